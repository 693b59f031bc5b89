import com.ostrel.qel2.Generator;
import com.ostrel.qel2.Util;

import java.math.BigInteger;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import javax.crypto.Cipher;
import javax.crypto.SecretKey;

/**
 * Generator natives and Util's key export and wrap against the stand-in:
 * generated keys are exported and used with the JDK's own providers (public
 * keys through KeyFactory, RSA and EC private values in Signature and
 * Cipher, wraps against AESWrap, AESWrapPad, AES/KW and AES/GCM).
 */
public final class KeyGenTest extends BridgeTest {
    static final int AES_KEY_WRAP = 4240;
    static final int AES_KEY_WRAP_PAD = 4241;
    static final int AES_KEY_WRAP_PKCS = 4242;
    static final int AES_GCM = 4231;
    static final int RSA_OAEP = 9;
    static final int NO_HASH = -1;
    static final byte[] RFC3394_IV = {(byte) 0xA6, (byte) 0xA6, (byte) 0xA6, (byte) 0xA6,
                                      (byte) 0xA6, (byte) 0xA6, (byte) 0xA6, (byte) 0xA6};

    byte[] export(long key, int mech) {
        byte[] out = filled(4096);
        int[] len = {out.length};
        checkEq("exportKey " + key + " with " + mech, 0, Util.exportKey(session, key, out, len, mech));
        return Arrays.copyOf(out, len[0]);
    }

    byte[] exportPublic(long key) {
        int[] len = {0};
        int r = Util.exportPublicKey(session, key, null, len);
        check("public key size query (" + r + ")", (r == 0 || r == RET_RESULT_SIZE) && len[0] > 0);
        byte[] out = filled(len[0] + 4);
        int[] outLen = {out.length};
        checkEq("exportPublicKey", 0, Util.exportPublicKey(session, key, out, outLen));
        checkEq("public key length as queried", len[0], outLen[0]);
        check("bytes past the public key untouched", allFill(out, len[0]));
        return Arrays.copyOf(out, outLen[0]);
    }

    long secret(String kind, int bits, String label) {
        long[] h = handles(1);
        int r;
        switch (kind) {
            case "AES":
                r = Generator.generateAESKey(session, bits, label, true, false, h);
                break;
            case "DES":
                r = Generator.generateDESKey(session, label, true, false, h);
                break;
            default:
                r = Generator.generateGenericSecretKey(session, bits, label, true, false, h);
        }
        checkEq("generate " + kind + " " + bits, 0, r);
        check("handle written", h[0] != SENTINEL);
        return h[0];
    }

    static BigInteger field(byte[] b, int off, int len) {
        return new BigInteger(1, Arrays.copyOfRange(b, off, off + len));
    }

    void symmetricKeys() {
        for (int bits : new int[] {128, 192, 256}) {
            checkEq("AES-" + bits + " value length", bits / 8, export(secret("AES", bits, "aes"), AES_KEY_WRAP_PAD).length);
        }
        long[] h = handles(1);
        check("AES of 255 bits refused", Generator.generateAESKey(session, 255, "odd", true, false, h) != 0);
        checkEq("refused AES: handle untouched", SENTINEL, h[0]);

        byte[] des = export(secret("DES", 192, "des3"), AES_KEY_WRAP_PAD);
        checkEq("3DES value length", 24, des.length);
        boolean odd = true;
        for (byte b : des) {
            odd &= Integer.bitCount(b & 0xFF) % 2 == 1;
        }
        check("3DES bytes of odd parity", odd);
        checkEq("generic secret of 160 bits", 20, export(secret("GEN", 160, "gen"), AES_KEY_WRAP_PAD).length);

        // A session key is gone with its session; a persistent one is a token key.
        long[] p = handles(1);
        checkEq("persistent AES key", 0, Generator.generateAESKey(session, 128, "kept", true, true, p));
        int[] count = {2};
        long[] found = handles(2);
        checkEq("token search", 0, Util.searchKeyStore(session, 0, 0, -1, -1, (byte) 1, null,
                "kept".getBytes(), null, found, count));
        checkEq("the persistent key is a token key", p[0], count[0] == 1 ? found[0] : -1);
        checkEq("delete the persistent key", 0, Util.deleteKey(session, p[0]));
    }

    void exportOnlyMeaningfulBytes() {
        long key = secret("AES", 256, "export-me");
        int[] len = {0};
        checkEq("export size query", ERR_BUFFER_TOO_SMALL, Util.exportKey(session, key, null, len, AES_KEY_WRAP_PAD));
        checkEq("needed: the wrapped length", 40, len[0]);
        byte[] out = filled(len[0]);
        int[] outLen = {len[0]};
        checkEq("export into the queried room", 0, Util.exportKey(session, key, out, outLen, AES_KEY_WRAP_PAD));
        checkEq("plain length", 32, outLen[0]);
        check("no wrapped bytes left past the plain value", allFill(out, 32));
        check("4242 exports the same value", Arrays.equals(Arrays.copyOf(out, 32), export(key, AES_KEY_WRAP_PKCS)));

        // Plain export with 4240 is refused after the HSM wrapped: Java sees nothing.
        byte[] junk = filled(64);
        int[] junkLen = {64};
        checkEq("plain export with 4240", ERR_INVALID_INPUT, Util.exportKey(session, key, junk, junkLen, AES_KEY_WRAP));
        check("refused export: bytes untouched", allFill(junk, 0));
        checkEq("refused export: length untouched", 64, junkLen[0]);
    }

    void rsa() throws Exception {
        long[] pub = handles(1);
        long[] priv = handles(1);
        checkEq("RSA-2048 pair", 0, Generator.generateRSAKeyPair(session, 2048, 65537, "rsa-pub", "rsa-priv",
                true, false, pub, priv));
        RSAPublicKey pk = (RSAPublicKey) x509PublicKey("RSA", exportPublic(pub[0]));
        checkEq("modulus bits", 2048, pk.getModulus().bitLength());
        checkEq("public exponent", 65537, pk.getPublicExponent().longValue());

        // The private value: n d q dq p dp qinv e, right-aligned fields.
        byte[] c = export(priv[0], AES_KEY_WRAP_PAD);
        int m = 256;
        int h = 128;
        checkEq("component block length", 3 * m + 5 * h, c.length);
        check("the private key's modulus is the public key's", pk.getModulus().equals(field(c, 0, m)));
        PrivateKey sk = rsaPrivateKey(field(c, 0, m), field(c, 2 * m + 5 * h, m), field(c, m, m),
                field(c, 2 * m + 2 * h, h), field(c, 2 * m, h), field(c, 2 * m + 3 * h, h), field(c, 2 * m + h, h),
                field(c, 2 * m + 4 * h, h));
        Signature s = Signature.getInstance("SHA256withRSA");
        s.initSign(sk);
        s.update(new byte[] {1, 2, 3});
        byte[] sig = s.sign();
        s.initVerify(pk);
        s.update(new byte[] {1, 2, 3});
        check("RSA private and public key belong together", s.verify(sig));

        // Wrapping under the HSM's public key: the JDK unwraps with the private key.
        long aes = secret("AES", 128, "oaep-target");
        byte[] wrapped = filled(512);
        int[] len = {512};
        byte[] iv = filled(16);
        checkEq("RSA-OAEP wrap", 0, Util.wrapKey(session, pub[0], aes, wrapped, len, RSA_OAEP, iv, NO_HASH, null));
        checkEq("RSA-OAEP wrap length", 256, len[0]);
        check("RSA-OAEP ignores the IV array", allFill(iv, 0));
        Cipher oaep = Cipher.getInstance("RSA/ECB/OAEPWithSHA-1AndMGF1Padding");
        oaep.init(Cipher.DECRYPT_MODE, sk);
        check("JDK unwraps the HSM's RSA-OAEP wrap",
              Arrays.equals(export(aes, AES_KEY_WRAP_PAD), oaep.doFinal(Arrays.copyOf(wrapped, 256))));
    }

    void ec() throws Exception {
        int[][] curves = {{415, 256}, {715, 384}, {716, 521}};
        for (int[] curve : curves) {
            long[] pub = handles(1);
            long[] priv = handles(1);
            checkEq("EC pair on curve " + curve[0], 0,
                    Generator.generateECKeyPair(session, curve[0], "ec-pub", "ec-priv", true, false, pub, priv));
            ECPublicKey pk = (ECPublicKey) x509PublicKey("EC", exportPublic(pub[0]));
            checkEq("field size of curve " + curve[0], curve[1], pk.getParams().getCurve().getField().getFieldSize());
            byte[] scalar = export(priv[0], AES_KEY_WRAP_PAD);
            checkEq("scalar as wide as the order", (pk.getParams().getOrder().bitLength() + 7) / 8, scalar.length);
            PrivateKey sk = ecPrivateKey(new BigInteger(1, scalar), pk);
            Signature s = Signature.getInstance("SHA256withECDSA");
            s.initSign(sk);
            s.update(new byte[] {4, 5, 6});
            byte[] sig = s.sign();
            s.initVerify(pk);
            s.update(new byte[] {4, 5, 6});
            check("EC pair on curve " + curve[0] + " belongs together", s.verify(sig));
        }
        long[] pub = handles(1);
        long[] priv = handles(1);
        check("unknown curve refused", Generator.generateECKeyPair(session, 1, "x", "y", true, false, pub, priv) != 0);
        check("refused pair: handles untouched", pub[0] == SENTINEL && priv[0] == SENTINEL);
    }

    byte[] wrap(long kek, long key, int mech, byte[] iv, int room) {
        byte[] out = filled(room);
        int[] len = {room};
        checkEq("wrapKey with " + mech, 0, Util.wrapKey(session, kek, key, out, len, mech, iv, NO_HASH, null));
        check("wrapKey with " + mech + ": bytes past the result untouched", allFill(out, len[0]));
        return Arrays.copyOf(out, len[0]);
    }

    void aesWraps() throws Exception {
        long kekHandle = secret("AES", 256, "kek");
        SecretKey kek = secretKey(export(kekHandle, AES_KEY_WRAP_PAD), "AES");
        long aesHandle = secret("AES", 128, "wrap-target");
        byte[] aes = export(aesHandle, AES_KEY_WRAP_PAD);
        long genHandle = secret("GEN", 160, "wrap-target-20");
        byte[] gen = export(genHandle, AES_KEY_WRAP_PAD);

        Cipher kw = Cipher.getInstance("AESWrap");
        kw.init(Cipher.WRAP_MODE, kek);
        check("4240 equals AESWrap", Arrays.equals(kw.wrap(secretKey(aes, "AES")),
                wrap(kekHandle, aesHandle, AES_KEY_WRAP, RFC3394_IV, 64)));
        Cipher kwp = Cipher.getInstance("AESWrapPad");
        kwp.init(Cipher.WRAP_MODE, kek);
        check("4241 equals AESWrapPad", Arrays.equals(kwp.wrap(secretKey(gen, "HMAC")),
                wrap(kekHandle, genHandle, AES_KEY_WRAP_PAD, null, 64)));
        byte[] padded = Arrays.copyOf(gen, 24);
        Arrays.fill(padded, 20, 24, (byte) 4);
        Cipher kwEnc = Cipher.getInstance("AES/KW/NoPadding");
        kwEnc.init(Cipher.ENCRYPT_MODE, kek);
        check("4242 equals AES/KW over the PKCS#7-padded value", Arrays.equals(kwEnc.doFinal(padded),
                wrap(kekHandle, genHandle, AES_KEY_WRAP_PKCS, RFC3394_IV, 64)));
        kw.init(Cipher.UNWRAP_MODE, kek);
        check("AESWrap unwraps the HSM's 4240 wrap", Arrays.equals(aes, kw.unwrap(
                wrap(kekHandle, aesHandle, AES_KEY_WRAP, RFC3394_IV, 24), "AES", Cipher.SECRET_KEY).getEncoded()));

        // Too little room: the needed length, nothing else.
        byte[] small = filled(8);
        int[] len = {8};
        int r = Util.wrapKey(session, kekHandle, aesHandle, small, len, AES_KEY_WRAP, RFC3394_IV, NO_HASH, null);
        check("wrap into 8 bytes refused (" + Integer.toHexString(r) + ")", r != 0);
        check("short wrap output untouched", allFill(small, 0));
        if (r == ERR_BUFFER_TOO_SMALL) {
            checkEq("needed wrap length", 24, len[0]);
        }

        // AES-GCM: the HSM picks the IV; Java gets it, the tag and the ciphertext.
        for (int ivLen : new int[] {12, 20}) {
            byte[] iv = filled(ivLen);
            byte[] tag = filled(16);
            byte[] out = filled(32);
            int[] outLen = {32};
            checkEq("GCM wrap with a " + ivLen + "-byte IV array", 0,
                    Util.wrapKey(session, kekHandle, aesHandle, out, outLen, AES_GCM, iv, NO_HASH, tag));
            checkEq("GCM wrapped length", 16, outLen[0]);
            Cipher gcm = Cipher.getInstance("AES/GCM/NoPadding");
            gcm.init(Cipher.DECRYPT_MODE, kek, gcmParams(128, Arrays.copyOf(iv, 12)));
            byte[] both = Arrays.copyOf(out, 32);
            System.arraycopy(tag, 0, both, 16, 16);
            check("JDK's AES/GCM opens the HSM's GCM wrap", Arrays.equals(aes, gcm.doFinal(both)));
            if (ivLen == 20) {
                check("IV bytes past the 16-byte field untouched", allFill(iv, 16));
            }
        }
    }

    public static void main(String[] args) throws Exception {
        KeyGenTest t = new KeyGenTest();
        t.login();
        t.symmetricKeys();
        t.exportOnlyMeaningfulBytes();
        t.rsa();
        t.ec();
        t.aesWraps();
        t.logout();
        finish();
    }
}
