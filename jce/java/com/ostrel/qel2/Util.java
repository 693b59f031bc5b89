package com.ostrel.qel2;

/** Key store, hash, HMAC, random, key export/wrap and curve helpers. */
public final class Util {
    static {
        System.loadLibrary("qel2");
    }

    private Util() {
    }

    public static native String getQelErrorText(int code);

    public static native int setenv(String name, String value);

    public static native int findKey(int session_handle, String label, long[] handle_out);

    public static native int searchKeyStore(int session_handle, int partition, int nextIndex,
                                            int key_class, int key_type, byte store_loc,
                                            byte[] key_id, byte[] label, byte[] modulus,
                                            long[] keys_found, int[] num_keys);

    public static native int searchKeyStore2(int session_handle, int partition, int nextIndex,
                                             int key_class, int key_type, byte store_loc,
                                             byte[] key_id, byte[] label, byte[] modulus,
                                             byte[] kcv, long[] keys_found, int[] num_keys);

    public static native int generateHash(int session_handle, int algorithm, byte[] message,
                                          byte[] digest_out);

    public static native int generateHmac(int session_handle, int algorithm, long key_handle,
                                          byte[] message, byte[] digest_out);

    public static native int getKeyAttributes(int session_handle, long key_handle,
                                              byte[] attributes_out, int[] attributes_len_out);

    public static native int secureRandom(int session_handle, boolean fips, byte[] bytes);

    public static native int exportKey(int session_handle, long key_handle, byte[] key_out,
                                       int[] key_out_len, int wrap_mech);

    public static native int exportPublicKey(int session_handle, long key_handle, byte[] key_out,
                                             int[] key_out_len);

    public static native int deleteKey(int session_handle, long key_handle);

    public static native int persistKey(int session_handle, long key_handle);

    public static native int getRSAPrivateKeyComponents(byte[] encoded_key, byte[] components_out,
                                                        int[] components_len_out,
                                                        int[] mod_size_out);

    public static native int getECKeyDomainParameters(int curveId, byte[] seed, byte[] p,
                                                      byte[] gx, byte[] gy, byte[] a, byte[] b,
                                                      byte[] order, int[] h);

    public static native boolean isPointOnCurve(int nid, String x, String y);

    public static native int wrapKey(int session_handle, long wraping_key_handle,
                                     long wrap_key_handle, byte[] key_out, int[] key_out_len,
                                     int wrap_mech, byte[] iv, int hash_type, byte[] tag);

    public static native int unwrapKey(int session_handle, int key_type, byte[] key_data,
                                       String label, boolean persistent, boolean extractable,
                                       long[] key_out, long wrapping_kh, int wrap_mech, byte[] iv,
                                       int hash_type, int tag_len, int key_size);

    public static native int getECPublicPoint(int session_handle, long key_handle, int curveId,
                                              byte[] x_out, byte[] y_out);

    public static native int getKeyCount(int sessionId, String partition_name,
                                         int[] key_count_out);

    public static native boolean isClientMode();

    public static native int getFipsState(int sessionId, String partition_name,
                                          int[] fips_state_out);
}
