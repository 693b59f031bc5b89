package com.ostrel.qel2;

/** Ciphers, RSA operations, AES key wrap and ECDH agreement on the HSM. */
public final class Cryptography {
    static {
        System.loadLibrary("qel2");
    }

    private Cryptography() {
    }

    public static native int processAESDES(int session_handle, byte[] input, byte[] output,
                                           byte[] iv, long key_handle, int operation);

    public static native int pkcs1v15Enc(int session_handle, long key_handle, int modlength,
                                         int block_type, byte[] plaintext, byte[] ciphertext_out);

    public static native int pkcs1v15Dec(int session_handle, long key_handle, int modlength,
                                         int block_type, byte[] ciphertext, byte[] plaintext_out,
                                         int[] plaintext_len_out);

    public static native int pkcs1v22Enc(int session_handle, long key_handle, int modlength,
                                         int hash_type, byte[] plaintext, byte[] ciphertext_out);

    public static native int pkcs1v22Dec(int session_handle, long key_handle, int modlength,
                                         int hash_type, byte[] ciphertext, byte[] plaintext_out,
                                         int[] plaintext_len_out);

    public static native int modExpEnc(int session_handle, long key_handle, int modlength,
                                       byte[] plaintext, byte[] ciphertext_out);

    public static native int modExpDec(int session_handle, long key_handle, int modlength,
                                       byte[] ciphertext, byte[] plaintext_out);

    public static native int processAESGCM(int session_handle, int operation, byte[] input,
                                           byte[] output, int[] output_len, byte[] aad,
                                           byte[] aad_tag, byte[] aad_tag_out, byte[] iv,
                                           long key_handle);

    public static native int aesWrap(int session_handle, long key_handle, byte[] key_data,
                                     byte[] key_out, int[] key_out_len);

    public static native int ecdhAgreement(int session_handle, int cid, byte[] prime,
                                           byte[] peer_pub_x, byte[] peer_pub_y,
                                           long priv_key_handle, byte[] pub_x, byte[] pub_y);
}
