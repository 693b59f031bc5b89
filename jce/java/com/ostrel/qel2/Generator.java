package com.ostrel.qel2;

/** Key generation on the HSM. */
public final class Generator {
    static {
        System.loadLibrary("qel2");
    }

    private Generator() {
    }

    public static native int generateRSAKeyPair(int session_handle, int strength, int exponent,
                                                String publicLabel, String privateLabel,
                                                boolean extractable, boolean persistent,
                                                long[] publicKeyOut, long[] privateKeyOut);

    public static native int generateECKeyPair(int session_handle, int curve_id,
                                               String public_label, String private_label,
                                               boolean extractable, boolean persistent,
                                               long[] public_key_out, long[] private_key_out);

    public static native int generateAESKey(int session_handle, int key_size, String key_lable,
                                            boolean extractable, boolean persistent,
                                            long[] key_handle_out);

    public static native int generateDESKey(int session_handle, String key_lable,
                                            boolean extractable, boolean persistent,
                                            long[] key_handle_out);

    public static native int generateGenericSecretKey(int session_handle, int key_size,
                                                      String key_lable, boolean extractable,
                                                      boolean persistent, long[] key_handle_out);
}
