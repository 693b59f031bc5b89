import com.ostrel.qel2.LoginManager;
import com.ostrel.qel2.Util;

import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.security.AlgorithmParameters;
import java.security.KeyFactory;
import java.security.KeyPairGenerator;
import java.security.PrivateKey;
import java.security.PublicKey;
import java.security.Signature;
import java.security.interfaces.RSAKey;
import java.util.Arrays;
import java.util.Map;

import javax.crypto.SecretKey;

/**
 * What the bridge's test programs share: pass/fail counting with the
 * launcher's "N passed, N failed" summary, sentinel-filled outputs, and a
 * logged-in session on the stand-in seeded by jvm_launcher.
 */
class BridgeTest {
    static final String PARTITION = "PARTITION_1";
    static final String USER = "jce_user";
    static final String PASSWORD = "jce-secret-1";

    static final int UNUSABLE = -1;
    static final int RET_RESULT_SIZE = 183;
    static final int ERR_BUFFER_TOO_SMALL = 0x4000020E;
    static final int ERR_INVALID_INPUT = 0x4000021C;
    static final byte FILL = 0x5A;
    static final long SENTINEL = 0x5A5A5A5A5A5A5A5AL;

    static int passed;
    static int failed;

    static void check(String what, boolean ok) {
        if (ok) {
            passed++;
        } else {
            failed++;
            System.out.println("FAILED: " + what);
        }
    }

    static void checkEq(String what, long expected, long actual) {
        check(what + " (expected 0x" + Long.toHexString(expected) + ", got 0x" + Long.toHexString(actual) + ")",
              expected == actual);
    }

    static byte[] filled(int n) {
        byte[] b = new byte[n];
        Arrays.fill(b, FILL);
        return b;
    }

    static long[] handles(int n) {
        long[] h = new long[n];
        Arrays.fill(h, SENTINEL);
        return h;
    }

    static boolean allFill(byte[] b, int from) {
        for (int i = from; i < b.length; i++) {
            if (b[i] != FILL) {
                return false;
            }
        }
        return true;
    }

    /** An unsigned big-endian number right-aligned in `width` bytes. */
    static byte[] fixed(BigInteger v, int width) {
        byte[] raw = v.toByteArray();
        byte[] out = new byte[width];
        int n = Math.min(raw.length, width);
        System.arraycopy(raw, raw.length - n, out, width - n, n);
        return out;
    }

    // ---- JDK keys and parameters from their encodings --------------------
    // Keys and algorithm parameters reach the JDK's providers as the DER
    // or raw bytes the providers decode themselves.

    /** One DER element: tag, definite length, contents. */
    static byte[] der(int tag, byte[]... parts) {
        ByteArrayOutputStream body = new ByteArrayOutputStream();
        for (byte[] p : parts) {
            body.writeBytes(p);
        }
        int n = body.size();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.write(tag);
        if (n < 0x80) {
            out.write(n);
        } else {
            byte[] len = BigInteger.valueOf(n).toByteArray();
            int skip = len[0] == 0 ? 1 : 0;
            out.write(0x80 | (len.length - skip));
            out.write(len, skip, len.length - skip);
        }
        out.writeBytes(body.toByteArray());
        return out.toByteArray();
    }

    static byte[] derInt(BigInteger v) {
        return der(0x02, v.toByteArray());
    }

    static byte[] derInt(long v) {
        return derInt(BigInteger.valueOf(v));
    }

    static byte[] derOid(String hex) {
        return der(0x06, unhex(hex));
    }

    /** The whole DER element starting at `at` (definite lengths). */
    static byte[] derElement(byte[] b, int at) {
        int n = b[at + 1] & 0xFF;
        int head = 2;
        if (n >= 0x80) {
            head += n & 0x7F;
            n = new BigInteger(1, Arrays.copyOfRange(b, at + 2, at + head)).intValue();
        }
        return Arrays.copyOfRange(b, at, at + head + n);
    }

    /** The contents of the DER element starting at `at`. */
    static byte[] derContents(byte[] b, int at) {
        byte[] e = derElement(b, at);
        int head = (e[1] & 0x80) != 0 ? 2 + (e[1] & 0x7F) : 2;
        return Arrays.copyOfRange(e, head, e.length);
    }

    static byte[] unhex(String s) {
        byte[] b = new byte[s.length() / 2];
        for (int i = 0; i < b.length; i++) {
            b[i] = (byte) Integer.parseInt(s.substring(2 * i, 2 * i + 2), 16);
        }
        return b;
    }

    /** A key given by its encoding; the JDK's providers decode it themselves. */
    abstract static class EncodedKey implements java.security.Key {
        private final String algorithm;
        private final String format;
        private final byte[] encoded;

        EncodedKey(String algorithm, String format, byte[] encoded) {
            this.algorithm = algorithm;
            this.format = format;
            this.encoded = encoded.clone();
        }

        @Override
        public String getAlgorithm() {
            return algorithm;
        }

        @Override
        public String getFormat() {
            return format;
        }

        @Override
        public byte[] getEncoded() {
            return encoded.clone();
        }
    }

    static final class RawSecretKey extends EncodedKey implements SecretKey {
        RawSecretKey(byte[] value, String algorithm) {
            super(algorithm, "RAW", value);
        }
    }

    static final class X509PublicKey extends EncodedKey implements PublicKey {
        X509PublicKey(String algorithm, byte[] der) {
            super(algorithm, "X.509", der);
        }
    }

    static final class Pkcs8PrivateKey extends EncodedKey implements PrivateKey {
        Pkcs8PrivateKey(String algorithm, byte[] der) {
            super(algorithm, "PKCS#8", der);
        }
    }

    /** A secret key of these raw bytes, as the JDK's ciphers and MACs read one. */
    static SecretKey secretKey(byte[] value, String algorithm) {
        return new RawSecretKey(value, algorithm);
    }

    /** The JDK's public key for a DER SubjectPublicKeyInfo. */
    static PublicKey x509PublicKey(String algorithm, byte[] der) throws Exception {
        return (PublicKey) KeyFactory.getInstance(algorithm).translateKey(new X509PublicKey(algorithm, der));
    }

    /** The JDK's private key for a DER PKCS#8 PrivateKeyInfo. */
    static PrivateKey pkcs8PrivateKey(String algorithm, byte[] der) throws Exception {
        return (PrivateKey) KeyFactory.getInstance(algorithm).translateKey(new Pkcs8PrivateKey(algorithm, der));
    }

    /** The JDK's RSA private key of these CRT components. */
    static PrivateKey rsaPrivateKey(BigInteger n, BigInteger e, BigInteger d, BigInteger p, BigInteger q,
                                    BigInteger dp, BigInteger dq, BigInteger qinv) throws Exception {
        byte[] v = der(0x30, derInt(0), derInt(n), derInt(e), derInt(d), derInt(p), derInt(q), derInt(dp), derInt(dq),
                       derInt(qinv));
        byte[] rsaEncryption = der(0x30, derOid("2a864886f70d010101"), new byte[] {0x05, 0x00});
        return pkcs8PrivateKey("RSA", der(0x30, derInt(0), rsaEncryption, der(0x04, v)));
    }

    // Named curves: OID contents and field size in bits.
    static final Map<String, String> CURVE_OIDS = Map.of(
            "secp256r1", "2a8648ce3d030107", "secp384r1", "2b81040022", "secp521r1", "2b81040023",
            "secp256k1", "2b8104000a");
    static final Map<String, Integer> CURVE_BITS = Map.of("secp256r1", 256, "secp384r1", 384, "secp521r1", 521);

    /** An EC key pair generator on a named curve. */
    static KeyPairGenerator ecGenerator(String curve) throws Exception {
        KeyPairGenerator g = KeyPairGenerator.getInstance("EC");
        g.initialize(CURVE_BITS.get(curve));
        return g;
    }

    /** The JDK's EC private key of scalar s on the curve of public key `pub`. */
    static PrivateKey ecPrivateKey(BigInteger s, PublicKey pub) throws Exception {
        // The SubjectPublicKeyInfo's first element is the AlgorithmIdentifier
        // PKCS#8 needs too.
        byte[] algId = derElement(derContents(pub.getEncoded(), 0), 0);
        byte[] ecKey = der(0x30, derInt(1), der(0x04, fixed(s, (s.bitLength() + 7) / 8)));
        return pkcs8PrivateKey("EC", der(0x30, derInt(0), algId, der(0x04, ecKey)));
    }

    /** The value of a JDK object's public getters in turn, e.g. value(x, "getCurve", "getA"). */
    static Object value(Object o, String... getters) throws Exception {
        for (String g : getters) {
            o = o.getClass().getMethod(g).invoke(o);
        }
        return o;
    }

    static BigInteger big(Object o, String... getters) throws Exception {
        return (BigInteger) value(o, getters);
    }

    /** The JDK's domain parameters of a named curve, as EC parameters hold them. */
    @SuppressWarnings({"unchecked", "rawtypes"})
    static Object ecCurve(String curve) throws Exception {
        AlgorithmParameters p = AlgorithmParameters.getInstance("EC");
        p.init(derOid(CURVE_OIDS.get(curve)));
        return p.getParameterSpec((Class) Object.class);
    }

    /** Parameters of a block cipher mode with an IV (DER OCTET STRING). */
    static AlgorithmParameters ivParams(String algorithm, byte[] iv) throws Exception {
        AlgorithmParameters p = AlgorithmParameters.getInstance(algorithm);
        p.init(der(0x04, iv));
        return p;
    }

    /** GCM parameters: IV and tag length (DER GCMParameters, the tag in bytes). */
    static AlgorithmParameters gcmParams(int tagBits, byte[] iv) throws Exception {
        AlgorithmParameters p = AlgorithmParameters.getInstance("GCM");
        p.init(der(0x30, der(0x04, iv), derInt(tagBits / 8)));
        return p;
    }

    static final Map<String, String> HASH_OIDS = Map.of(
            "SHA-1", "2b0e03021a", "SHA-224", "608648016503040204", "SHA-256", "608648016503040201",
            "SHA-384", "608648016503040202", "SHA-512", "608648016503040203");

    static byte[] hashAlgId(String hash) {
        return der(0x30, derOid(HASH_OIDS.get(hash)), new byte[] {0x05, 0x00});
    }

    static byte[] mgf1AlgId(String hash) {
        return der(0x30, derOid("2a864886f70d010108"), hashAlgId(hash));
    }

    /** RSA-OAEP with `hash` and MGF1 over the same hash, empty label. */
    static AlgorithmParameters oaepParams(String hash) throws Exception {
        AlgorithmParameters p = AlgorithmParameters.getInstance("OAEP");
        p.init(der(0x30, der(0xA0, hashAlgId(hash)), der(0xA1, mgf1AlgId(hash))));
        return p;
    }

    /**
     * Sets RSASSA-PSS with `hash`, MGF1 over the same hash and `salt` bytes:
     * the parameters come from the JDK's RSASSA-PSS key for `rsa` carrying
     * them in its encoding.
     */
    static void setPss(Signature s, PublicKey rsa, String hash, int salt) throws Exception {
        byte[] params = der(0x30, der(0xA0, hashAlgId(hash)), der(0xA1, mgf1AlgId(hash)), der(0xA2, derInt(salt)));
        byte[] spki = rsa.getEncoded();
        byte[] body = derContents(spki, 0);
        byte[] keyBits = Arrays.copyOfRange(body, derElement(body, 0).length, body.length);
        byte[] pssId = der(0x30, derOid("2a864886f70d01010a"), params);
        RSAKey pss = (RSAKey) x509PublicKey("RSASSA-PSS", der(0x30, pssId, keyBits));
        s.setParameter(pss.getParams());
    }

    final LoginManager lm = new LoginManager();
    int app;
    int session;

    void login() {
        int[] a = {0};
        int[] s = {0};
        int r = lm.login(PARTITION, USER, PASSWORD, a, s);
        checkEq("login", 0, r);
        if (r != 0) {
            finish();
        }
        app = a[0];
        session = s[0];
    }

    /** The DER public key the HSM exports for `key`. */
    byte[] exportedPublicKey(long key) {
        byte[] out = filled(1024);
        int[] len = {out.length};
        checkEq("exportPublicKey", 0, Util.exportPublicKey(session, key, out, len));
        return Arrays.copyOf(out, len[0]);
    }

    void logout() {
        checkEq("logout", 0, lm.logout(app, session));
    }

    static void finish() {
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 ? 0 : 1);
    }
}
