package com.ostrel.qel2;

/** Import of symmetric, private and public keys into the HSM. */
public final class ImportKey {
    static {
        System.loadLibrary("qel2");
    }

    private ImportKey() {
    }

    public static native int importSymmetricKey(int session_handle, int key_type, byte[] key_data,
                                                String label, boolean persistent,
                                                boolean extractable, long[] key_out,
                                                int wrap_mech);

    public static native int importRSAPrivateKey(int session_handle, byte[] key_data, String label,
                                                 int public_exponent, int mod_len_bits,
                                                 boolean persistent, boolean extractable,
                                                 long[] key_out, int wrap_mech);

    public static native int importECPrivateKey(int session_handle, byte[] key_data, String label,
                                                int curve_id, boolean persistent,
                                                boolean extractable, long[] key_out,
                                                int wrap_mech);

    public static native int importRSAPublicKey(int session_handle, byte[] key_data,
                                                int public_exponent, String label,
                                                boolean persistent, long[] key_out);

    public static native int importECPublicKey(int session_handle, byte[] key_data, int curve_id,
                                               String label, boolean persistent, long[] key_out);
}
