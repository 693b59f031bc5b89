import com.ostrel.qel2.ImportKey;

import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;

/**
 * ImportKey natives against the stand-in: keys the JDK generated are
 * imported and read back (public keys through exportPublicKey, which must
 * give the JDK's own encoding).
 */
public final class KeyImportTest extends BridgeTest {
    void publicKeys() throws Exception {
        KeyPairGenerator rsaGen = KeyPairGenerator.getInstance("RSA");
        rsaGen.initialize(2048);
        RSAPublicKey rsa = (RSAPublicKey) rsaGen.generateKeyPair().getPublic();
        long[] h = handles(1);
        checkEq("importRSAPublicKey", 0, ImportKey.importRSAPublicKey(session, fixed(rsa.getModulus(), 256),
                rsa.getPublicExponent().intValue(), "imported-rsa", false, h));
        check("RSA public key reads back as the JDK encodes it", Arrays.equals(rsa.getEncoded(), exportedPublicKey(h[0])));

        String[][] curves = {{"secp256r1", "415", "32"}, {"secp384r1", "715", "48"}, {"secp521r1", "716", "66"}};
        for (String[] c : curves) {
            KeyPair kp = ecGenerator(c[0]).generateKeyPair();
            ECPublicKey ec = (ECPublicKey) kp.getPublic();
            int n = Integer.parseInt(c[2]);
            byte[] point = new byte[1 + 2 * n];
            point[0] = 4;
            System.arraycopy(fixed(ec.getW().getAffineX(), n), 0, point, 1, n);
            System.arraycopy(fixed(ec.getW().getAffineY(), n), 0, point, 1 + n, n);
            long[] e = handles(1);
            checkEq("importECPublicKey " + c[0], 0,
                    ImportKey.importECPublicKey(session, point, Integer.parseInt(c[1]), "imported-ec", false, e));
            check(c[0] + " public key reads back as the JDK encodes it", Arrays.equals(ec.getEncoded(), exportedPublicKey(e[0])));

            // A point off the curve is the HSM's to refuse; no handle reaches Java.
            point[point.length - 1] ^= 1;
            long[] bad = handles(1);
            check(c[0] + " point off the curve refused",
                  ImportKey.importECPublicKey(session, point, Integer.parseInt(c[1]), "bad-ec", false, bad) != 0);
            checkEq(c[0] + " refused import: handle untouched", SENTINEL, bad[0]);
        }
    }

    public static void main(String[] args) throws Exception {
        KeyImportTest t = new KeyImportTest();
        t.login();
        t.publicKeys();
        t.logout();
        finish();
    }
}
