import com.ostrel.qel2.Generator;
import com.ostrel.qel2.ImportKey;
import com.ostrel.qel2.Util;

import java.math.BigInteger;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.SecureRandom;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import javax.crypto.Cipher;
import javax.crypto.SecretKey;

/**
 * Util.unwrapKey and the private and secret ImportKey natives against the
 * stand-in: keys the JDK wrapped (AESWrap, AESWrapPad, AES/GCM, RSA-OAEP)
 * or holds in plain are unwrapped or imported, then exported again and
 * compared with what Java started from.
 */
public final class UnwrapImportTest extends BridgeTest {
    static final int AES = 31;
    static final int RSA_OAEP = 9;
    static final byte[] RFC3394_IV = {(byte) 0xA6, (byte) 0xA6, (byte) 0xA6, (byte) 0xA6,
                                      (byte) 0xA6, (byte) 0xA6, (byte) 0xA6, (byte) 0xA6};

    final SecureRandom rnd = new SecureRandom();

    byte[] random(int n) {
        byte[] b = new byte[n];
        rnd.nextBytes(b);
        return b;
    }

    byte[] export(long key) {
        byte[] out = filled(4096);
        int[] len = {out.length};
        checkEq("exportKey", 0, Util.exportKey(session, key, out, len, 4241));
        return Arrays.copyOf(out, len[0]);
    }

    long unwrap(String what, byte[] data, long kek, int mech, byte[] iv, int tagLen, int keySize) {
        long[] h = handles(1);
        checkEq("unwrap " + what, 0, Util.unwrapKey(session, AES, data, "unwrapped", false, true, h, kek, mech,
                iv, -1, tagLen, keySize));
        check("unwrap " + what + ": handle written", h[0] != SENTINEL);
        return h[0];
    }

    void unwraps() throws Exception {
        long[] k = handles(1);
        checkEq("KEK", 0, Generator.generateAESKey(session, 256, "kek", true, false, k));
        SecretKey kek = secretKey(export(k[0]), "AES");
        byte[] value = random(16);
        SecretKey key = secretKey(value, "AES");

        Cipher kw = Cipher.getInstance("AESWrap");
        kw.init(Cipher.WRAP_MODE, kek);
        check("AESWrap unwrapped by the HSM", Arrays.equals(value,
                export(unwrap("4240", kw.wrap(key), k[0], 4240, RFC3394_IV, 0, 16))));
        Cipher kwp = Cipher.getInstance("AESWrapPad");
        kwp.init(Cipher.WRAP_MODE, kek);
        check("AESWrapPad unwrapped by the HSM", Arrays.equals(value,
                export(unwrap("4241", kwp.wrap(key), k[0], 4241, null, 0, 16))));

        // AES-GCM: the data is the ciphertext followed by its tag.
        byte[] iv = random(12);
        Cipher gcm = Cipher.getInstance("AES/GCM/NoPadding");
        gcm.init(Cipher.ENCRYPT_MODE, kek, gcmParams(128, iv));
        byte[] sealed = gcm.doFinal(value);
        checkEq("GCM data: 16 bytes and a 16-byte tag", 32, sealed.length);
        check("AES/GCM unwrapped by the HSM", Arrays.equals(value,
                export(unwrap("4231", sealed, k[0], 4231, iv, 16, 16))));
        long[] h = handles(1);
        byte[] tampered = sealed.clone();
        tampered[31] ^= 1;
        check("a tampered GCM tag refused", Util.unwrapKey(session, AES, tampered, "bad", false, true, h, k[0],
                4231, iv, -1, 16, 16) != 0);
        checkEq("refused unwrap: handle untouched", SENTINEL, h[0]);

        // RSA-OAEP under the HSM's public key, unwrapped with its private key.
        long[] pub = handles(1);
        long[] priv = handles(1);
        checkEq("RSA pair", 0, Generator.generateRSAKeyPair(session, 2048, 65537, "p", "q", true, false, pub, priv));
        RSAPublicKey pk = (RSAPublicKey) x509PublicKey("RSA", exportedPublicKey(pub[0]));
        Cipher oaep = Cipher.getInstance("RSA/ECB/OAEPWithSHA-1AndMGF1Padding");
        oaep.init(Cipher.ENCRYPT_MODE, pk);
        check("RSA-OAEP unwrapped by the HSM", Arrays.equals(value,
                export(unwrap("9", oaep.doFinal(value), priv[0], RSA_OAEP, filled(3), 0, 16))));

        // A persistent unwrap makes a token key.
        long[] t = handles(1);
        checkEq("persistent unwrap", 0, Util.unwrapKey(session, AES, kwp.wrap(key), "unwrapped-token", true, true,
                t, k[0], 4241, null, -1, 0, 16));
        int[] count = {2};
        long[] found = handles(2);
        checkEq("token search", 0, Util.searchKeyStore(session, 0, 0, -1, -1, (byte) 1, null,
                "unwrapped-token".getBytes(), null, found, count));
        checkEq("the unwrapped key is a token key", t[0], count[0] == 1 ? found[0] : -1);
        checkEq("delete it", 0, Util.deleteKey(session, t[0]));
    }

    void imports() throws Exception {
        // Plain bytes reach the HSM through a padding wrap only.
        long[] no = handles(1);
        checkEq("importSymmetricKey with 4240 refused by the SDK", ERR_INVALID_INPUT,
                ImportKey.importSymmetricKey(session, AES, random(32), "imported-aes", false, true, no, 4240));
        checkEq("refused import: handle untouched", SENTINEL, no[0]);
        for (int mech : new int[] {4241, 4242}) {
            byte[] value = random(32);
            long[] h = handles(1);
            checkEq("importSymmetricKey with " + mech, 0,
                    ImportKey.importSymmetricKey(session, AES, value, "imported-aes", false, true, h, mech));
            check("imported AES key exports as given (" + mech + ")", Arrays.equals(value, export(h[0])));
        }
        byte[] secret = random(20);
        long[] g = handles(1);
        checkEq("import a generic secret", 0,
                ImportKey.importSymmetricKey(session, 16, secret, "imported-gen", false, true, g, 4241));
        check("imported generic secret exports as given", Arrays.equals(secret, export(g[0])));

        // RSA: the component block n d q dq p dp qinv e, right-aligned.
        KeyPairGenerator rsaGen = KeyPairGenerator.getInstance("RSA");
        rsaGen.initialize(2048);
        RSAPrivateCrtKey sk = (RSAPrivateCrtKey) rsaGen.generateKeyPair().getPrivate();
        int m = 256;
        int hl = 128;
        byte[] block = new byte[3 * m + 5 * hl];
        BigInteger[] parts = {sk.getModulus(), sk.getPrivateExponent(), sk.getPrimeQ(), sk.getPrimeExponentQ(),
                              sk.getPrimeP(), sk.getPrimeExponentP(), sk.getCrtCoefficient(), sk.getPublicExponent()};
        int[] widths = {m, m, hl, hl, hl, hl, hl, m};
        int off = 0;
        for (int i = 0; i < parts.length; i++) {
            System.arraycopy(fixed(parts[i], widths[i]), 0, block, off, widths[i]);
            off += widths[i];
        }
        long[] r = handles(1);
        checkEq("importRSAPrivateKey", 0, ImportKey.importRSAPrivateKey(session, block, "imported-rsa", 65537, 2048,
                false, true, r, 4241));
        check("imported RSA key exports as given", Arrays.equals(block, export(r[0])));

        KeyPair kp = ecGenerator("secp256r1").generateKeyPair();
        byte[] scalar = fixed(((ECPrivateKey) kp.getPrivate()).getS(), 32);
        long[] e = handles(1);
        checkEq("importECPrivateKey", 0, ImportKey.importECPrivateKey(session, scalar, "imported-ec", 415, false,
                true, e, 4241));
        check("imported EC key exports as given", Arrays.equals(scalar, export(e[0])));

        // Not extractable: the HSM keeps it.
        long[] n = handles(1);
        checkEq("import a non-extractable key", 0,
                ImportKey.importSymmetricKey(session, AES, random(16), "kept-inside", false, false, n, 4241));
        byte[] out = filled(64);
        int[] len = {64};
        check("a non-extractable key does not export", Util.exportKey(session, n[0], out, len, 4241) != 0);
        check("refused export: bytes untouched", allFill(out, 0));
    }

    public static void main(String[] args) throws Exception {
        UnwrapImportTest t = new UnwrapImportTest();
        t.login();
        t.unwraps();
        t.imports();
        t.logout();
        finish();
    }
}
