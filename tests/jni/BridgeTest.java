import com.ostrel.qel2.LoginManager;
import com.ostrel.qel2.Util;

import java.math.BigInteger;
import java.util.Arrays;

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
