import com.ostrel.qel2.Generator;
import com.ostrel.qel2.Util;

import java.security.MessageDigest;
import java.util.Arrays;
import java.util.Random;
import javax.crypto.Mac;
import javax.crypto.SecretKey;

/**
 * Util hash, HMAC and random natives against the stand-in, checked with the
 * JDK's MessageDigest and Mac.
 */
public final class HashTest extends BridgeTest {
    static final int[] TYPES = {2, 3, 4, 5, 6};
    static final String[] DIGESTS = {"SHA-1", "SHA-256", "SHA-384", "SHA-512", "SHA-224"};
    static final String[] MACS = {"HmacSHA1", "HmacSHA256", "HmacSHA384", "HmacSHA512", "HmacSHA224"};
    static final int[] LENGTHS = {0, 1, 55, 56, 64, 1000, 8000};

    final Random rnd = new Random(4711);

    byte[] message(int n) {
        byte[] m = new byte[n];
        rnd.nextBytes(m);
        return m;
    }

    void hashes() throws Exception {
        for (int i = 0; i < TYPES.length; i++) {
            MessageDigest md = MessageDigest.getInstance(DIGESTS[i]);
            int size = md.getDigestLength();
            for (int n : LENGTHS) {
                byte[] m = message(n);
                byte[] out = filled(size + 8);
                checkEq(DIGESTS[i] + " of " + n + " bytes", 0, Util.generateHash(session, TYPES[i], m, out));
                check(DIGESTS[i] + " of " + n + " bytes equals MessageDigest",
                      Arrays.equals(md.digest(m), Arrays.copyOf(out, size)));
                check(DIGESTS[i] + ": bytes past the digest untouched", allFill(out, size));
            }
            byte[] out = new byte[size];
            checkEq(DIGESTS[i] + " of a null message", 0, Util.generateHash(session, TYPES[i], null, out));
            check(DIGESTS[i] + " of a null message is the empty digest", Arrays.equals(md.digest(new byte[0]), out));
        }
        // MD5 is the SDK's to refuse; nothing reaches Java.
        byte[] out = filled(16);
        check("MD5 refused", Util.generateHash(session, 1, message(3), out) != 0);
        check("MD5: output untouched", allFill(out, 0));
    }

    void hmacs() throws Exception {
        long[] h = handles(1);
        checkEq("generic secret key", 0, Generator.generateGenericSecretKey(session, 256, "hmac-key", true, false, h));
        byte[] key = filled(64);
        int[] len = {64};
        checkEq("export the HMAC key", 0, Util.exportKey(session, h[0], key, len, 4241));
        checkEq("HMAC key length", 32, len[0]);
        SecretKey macKey = secretKey(Arrays.copyOf(key, len[0]), "HMAC");
        for (int i = 0; i < TYPES.length; i++) {
            Mac mac = Mac.getInstance(MACS[i]);
            mac.init(macKey);
            for (int n : new int[] {0, 1, 100, 4000}) {
                byte[] m = message(n);
                byte[] out = filled(mac.getMacLength());
                checkEq(MACS[i] + " of " + n + " bytes", 0, Util.generateHmac(session, TYPES[i], h[0], m, out));
                check(MACS[i] + " of " + n + " bytes equals Mac", Arrays.equals(mac.doFinal(m), out));
            }
        }
        byte[] out = filled(32);
        check("HMAC with a deleted key fails", Util.deleteKey(session, h[0]) == 0
              && Util.generateHmac(session, 3, h[0], message(10), out) != 0);
        check("failed HMAC: output untouched", allFill(out, 0));
    }

    void random() {
        // Longer than one request carries: filled whole, in two requests.
        for (boolean fips : new boolean[] {false, true}) {
            byte[] b = filled(100000);
            checkEq("secureRandom 100000 fips=" + fips, 0, Util.secureRandom(session, fips, b));
            int left = 0;
            for (byte x : b) {
                left += x == FILL ? 1 : 0;
            }
            // About 1 in 256 random bytes happen to equal the fill byte.
            check("the whole array is random (fips=" + fips + ", " + left + " fill bytes left)", left < 800);
            check("the tail is random (fips=" + fips + ")", !allFill(b, 99936));
        }
        byte[] one = filled(16);
        checkEq("secureRandom 16", 0, Util.secureRandom(session, false, one));
        byte[] two = filled(16);
        checkEq("secureRandom 16 again", 0, Util.secureRandom(session, false, two));
        check("two draws differ", !Arrays.equals(one, two));
    }

    public static void main(String[] args) throws Exception {
        HashTest t = new HashTest();
        t.login();
        t.hashes();
        t.hmacs();
        t.random();
        t.logout();
        finish();
    }
}
