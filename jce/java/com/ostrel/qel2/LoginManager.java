package com.ostrel.qel2;

/**
 * Connection of the provider to an HSM partition: login, logout, session check,
 * and a host-side SHA-256 digest.
 *
 * <p>Every method returns a status: 0 on success, -1 for an argument the native
 * side cannot use (null, empty or too short), else the SDK's 32-bit status.
 */
public class LoginManager {
    static {
        System.loadLibrary("qel2");
    }

    public LoginManager() {
    }

    /** Starts the SDK for the partition, opens a session and logs a crypto user in. */
    public native int login(String partition_name, String user_name, String password,
                            int[] appIdOut, int[] sessionIdOut);

    public native int logout(int appId, int sessionId);

    public native int validSession(int sessionId);

    public native int loginWithOutInit(int session_handle, String user_name, String password);

    public native int getSHA256Hash(byte[] input, byte[] output);
}
