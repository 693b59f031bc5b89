import com.ostrel.qel2.Generator;
import com.ostrel.qel2.LoginManager;
import com.ostrel.qel2.Signatures;
import com.ostrel.qel2.Util;

import java.nio.charset.StandardCharsets;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.Signature;
import java.util.Arrays;

/**
 * Past login through the Java bridge: generates an RSA-2048 and an EC P-256
 * key pair on the HSM, signs a message with each private key on the HSM,
 * verifies each signature on the HSM, and then with the JDK's own providers
 * and the public key read from the HSM; logs out.
 *
 * <pre>
 *   java -Djava.library.path=&lt;dir of libqel2.so&gt; -cp qel2.jar SignDemo.java \
 *        [partition] [user] [password]
 * </pre>
 * The daemon is found through the same environment as for native callers
 * (tessaline_daemon_id, ...). Every native returns a status: 0 on success,
 * -1 for an argument the native side cannot use, else the SDK's status.
 */
public final class SignDemo {
    private static final int MECH_SHA256_RSA_PKCS = 64;
    private static final int MECH_ECDSA_SHA256 = 4163;
    private static final int NID_P256 = 415; // OpenSSL's curve number of P-256

    private static boolean ok = true;

    /** A SubjectPublicKeyInfo as it came from the HSM; the JDK decodes it itself. */
    private static final class EncodedPublicKey implements PublicKey {
        private final String algorithm;
        private final byte[] der;

        EncodedPublicKey(String algorithm, byte[] der) {
            this.algorithm = algorithm;
            this.der = der;
        }

        @Override
        public String getAlgorithm() {
            return algorithm;
        }

        @Override
        public String getFormat() {
            return "X.509";
        }

        @Override
        public byte[] getEncoded() {
            return der.clone();
        }
    }

    private static boolean step(String what, int status) {
        System.out.printf("%-32s 0x%08x  %s%n", what, status, Util.getQelErrorText(status));
        if (status != 0) {
            ok = false;
        }
        return status == 0;
    }

    /**
     * Signs on the HSM with the private key, verifies there with the public
     * key, then on the host with the JDK's algorithm {@code jdkAlgorithm}.
     */
    private static void signAndVerify(int session, long pub, long priv, int mechanism,
                                      String keyAlgorithm, String jdkAlgorithm) throws Exception {
        byte[] message = "a message signed on the HSM".getBytes(StandardCharsets.US_ASCII);
        byte[] sig = new byte[512];
        int[] sigLen = new int[1];
        if (!step("sign on the HSM", Signatures.rsaSign(session, mechanism, message, priv, sig, sigLen))) {
            return;
        }
        sig = Arrays.copyOf(sig, sigLen[0]);
        System.out.printf("  a signature of %d bytes%n", sig.length);
        // The verdict is the status: 0 for a valid signature.
        step("verify on the HSM", Signatures.rsaVerify(session, mechanism, message, sig, pub));

        // The public key as DER SubjectPublicKeyInfo; element 0 of the length
        // array is the buffer's size going in and the key's length coming out.
        byte[] der = new byte[2048];
        int[] derLen = {der.length};
        if (!step("read the public key (DER)", Util.exportPublicKey(session, pub, der, derLen))) {
            return;
        }
        PublicKey key = (PublicKey) KeyFactory.getInstance(keyAlgorithm)
                .translateKey(new EncodedPublicKey(keyAlgorithm, Arrays.copyOf(der, derLen[0])));
        Signature verifier = Signature.getInstance(jdkAlgorithm);
        verifier.initVerify(key);
        verifier.update(message);
        boolean valid = verifier.verify(sig);
        System.out.printf("%-32s %s%n", "verify with the JDK (" + jdkAlgorithm + ")",
                          valid ? "the signature is valid" : "the signature is NOT valid");
        if (!valid) {
            ok = false;
        }
    }

    public static void main(String[] args) throws Exception {
        String partition = args.length > 0 ? args[0] : "PARTITION_1";
        String user = args.length > 1 ? args[1] : "crypto_user";
        String password = args.length > 2 ? args[2] : "user_password";

        LoginManager lm = new LoginManager();
        int[] appId = new int[1];
        int[] session = new int[1];
        if (!step("log in as " + user, lm.login(partition, user, password, appId, session))) {
            System.exit(1);
        }

        // Session objects (persistent false), extractable; labels for both halves.
        long[] pub = new long[1];
        long[] priv = new long[1];
        System.out.println("-- RSA-2048, PKCS #1 v1.5 with SHA-256");
        if (step("generate an RSA-2048 key pair",
                 Generator.generateRSAKeyPair(session[0], 2048, 65537, "example-pub", "example-priv",
                                              true, false, pub, priv))) {
            signAndVerify(session[0], pub[0], priv[0], MECH_SHA256_RSA_PKCS, "RSA", "SHA256withRSA");
        }

        // The curve is OpenSSL's curve number; ECDSA signatures come as r || s,
        // which the JDK reads in its P1363 format.
        System.out.println("-- EC P-256, ECDSA with SHA-256");
        if (step("generate an EC P-256 key pair",
                 Generator.generateECKeyPair(session[0], NID_P256, "example-pub", "example-priv",
                                             true, false, pub, priv))) {
            signAndVerify(session[0], pub[0], priv[0], MECH_ECDSA_SHA256, "EC",
                          "SHA256withECDSAinP1363Format");
        }

        step("log out", lm.logout(appId[0], session[0]));
        System.out.println(ok ? "example finished" : "example finished with failures");
        System.exit(ok ? 0 : 1);
    }
}
