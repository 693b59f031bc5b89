package com.ostrel.qel2;

/** Signing and verifying with keys held by the HSM. */
public final class Signatures {
    static {
        System.loadLibrary("qel2");
    }

    private Signatures() {
    }

    public static native int rsaSign(int session_id, int mechanism, byte[] data, long key_handle,
                                     byte[] output, int[] output_size);

    public static native int rsaVerify(int session_id, int mechanism, byte[] data, byte[] signature,
                                       long key_handle);

    public static native int rsaSignPSS(int session_handle, long key_handle, int hash_type,
                                        int mod_length, byte[] hash, byte[] signature, int salt_len);

    public static native int rsaVerifyPSS(int session_handle, long key_handle, int hash_type,
                                          int mod_length, byte[] hash, byte[] signature,
                                          byte[] hash_out, int salt_len, int sig_length);

    public static native int ecdsaSign(int session_handle, long key_handle, int curve_id,
                                       byte[] data, byte[] random, byte[] r, byte[] s);

    public static native int ecdsaVerify(int session_handle, long key_handle, int curve_id,
                                         byte[] data, byte[] r, byte[] s);
}
