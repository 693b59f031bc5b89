import java.security.MessageDigest;
import java.util.Arrays;
import java.util.Random;

/**
 * LoginManager natives in a real JVM against the stand-in HSM. The launcher
 * (jvm_launcher.cpp) seeds the HSM for the scenario named by the first
 * argument and checks the requests it saw once this program has ended.
 * Prints "N passed, N failed"; exits non-zero on any failure.
 */
public final class LoginManagerTest extends BridgeTest {
    static final String WRONG_PASSWORD = "jce-secret-2";

    static final int ERR_ARGUMENTS_BAD = 0x40000206;
    static final int ERR_LIB_NOT_INITIALIZED = 0x4000021B;
    static final int RET_USER_LOGIN_FAILURE = 163;
    static final int RET_INVALID_SESSION = 0x8B;
    static final int RET_USER_ALREADY_LOGGED_IN = 0x9F;
    // The ids are ints here: the base's sentinel at their width.
    static final int SENTINEL = 0x5A5A5A5A;

    static int[] sentinel() {
        return new int[] {SENTINEL};
    }

    // ---- scenario "login": a seeded crypto user ----

    void rightPassword() {
        int[] app = sentinel();
        int[] sess = sentinel();
        checkEq("login with the right password", 0, lm.login(PARTITION, USER, PASSWORD, app, sess));
        check("application id written", app[0] != SENTINEL && app[0] != 0);
        check("session handle written", sess[0] != SENTINEL && sess[0] != 0);
        checkEq("validSession of the new session", 0, lm.validSession(sess[0]));
        checkEq("logout", 0, lm.logout(app[0], sess[0]));
        check("validSession after logout fails", lm.validSession(sess[0]) != 0);

        // A fresh login: the old session stays closed on the HSM.
        int[] app2 = sentinel();
        int[] sess2 = sentinel();
        checkEq("second login", 0, lm.login(PARTITION, USER, PASSWORD, app2, sess2));
        check("old session no longer valid", lm.validSession(sess[0]) != 0);
        checkEq("new session valid", 0, lm.validSession(sess2[0]));
        checkEq("second logout", 0, lm.logout(app2[0], sess2[0]));
    }

    void failedLoginsHandBackIds() {
        String[][] cases = {
            {"wrong password", WRONG_PASSWORD},
            {"password of 6 characters", "abcdef"},
            {"password of 33 characters", "a".repeat(33)},
        };
        for (String[] c : cases) {
            int[] app = sentinel();
            int[] sess = sentinel();
            int status = lm.login(PARTITION, USER, c[1], app, sess);
            if (c[1].equals(WRONG_PASSWORD)) {
                checkEq(c[0] + ": HSM refusal", RET_USER_LOGIN_FAILURE, status);
            } else {
                checkEq(c[0] + ": length refusal", ERR_ARGUMENTS_BAD, status);
            }
            check(c[0] + ": application id copied back", app[0] != SENTINEL && app[0] != 0);
            check(c[0] + ": session handle copied back", sess[0] != SENTINEL && sess[0] != 0);
            // The failed login cleaned the SDK up: the session is gone with it.
            check(c[0] + ": session not usable afterwards", lm.validSession(sess[0]) != 0);
        }
        int[] app = sentinel();
        int[] sess = sentinel();
        checkEq("login after failed logins", 0, lm.login(PARTITION, USER, PASSWORD, app, sess));
        checkEq("logout after failed logins", 0, lm.logout(app[0], sess[0]));
    }

    void unusableStringsAfterTheSession() {
        // User name and password are read once the session exists, so the ids
        // are already there when they turn out unusable.
        String[][] cases = {{"null user name", null, PASSWORD}, {"null password", USER, null}};
        for (String[] c : cases) {
            int[] app = sentinel();
            int[] sess = sentinel();
            checkEq(c[0], UNUSABLE, lm.login(PARTITION, c[1], c[2], app, sess));
            check(c[0] + ": ids copied back", app[0] != SENTINEL && sess[0] != SENTINEL);
        }
    }

    void loginWithOutInitRefusals() {
        int[] app = sentinel();
        int[] sess = sentinel();
        checkEq("login for loginWithOutInit", 0, lm.login(PARTITION, USER, PASSWORD, app, sess));
        checkEq("loginWithOutInit null user", UNUSABLE, lm.loginWithOutInit(sess[0], null, PASSWORD));
        checkEq("loginWithOutInit null password", UNUSABLE, lm.loginWithOutInit(sess[0], USER, null));
        checkEq("loginWithOutInit short password", ERR_ARGUMENTS_BAD, lm.loginWithOutInit(sess[0], USER, "short"));
        checkEq("loginWithOutInit into a logged-in session", RET_USER_ALREADY_LOGGED_IN,
                lm.loginWithOutInit(sess[0], USER, PASSWORD));
        checkEq("session still valid", 0, lm.validSession(sess[0]));
        checkEq("logout", 0, lm.logout(app[0], sess[0]));
        checkEq("logout(0, 0)", 0, lm.logout(0, 0));
    }

    // ---- scenario "login_without_init": the HSM refuses the first session close ----

    void loginWithOutInit() {
        int[] app1 = sentinel();
        int[] sess1 = sentinel();
        checkEq("first login", 0, lm.login(PARTITION, USER, PASSWORD, app1, sess1));
        // The user is logged out but the session stays open; the result is the close's.
        checkEq("logout whose close fails", RET_INVALID_SESSION, lm.logout(0, sess1[0]));

        int[] app2 = sentinel();
        int[] sess2 = sentinel();
        checkEq("second login starts the SDK again", 0, lm.login(PARTITION, USER, PASSWORD, app2, sess2));
        checkEq("loginWithOutInit wrong password", RET_USER_LOGIN_FAILURE,
                lm.loginWithOutInit(sess1[0], USER, WRONG_PASSWORD));
        checkEq("loginWithOutInit right password", 0, lm.loginWithOutInit(sess1[0], USER, PASSWORD));
        checkEq("loginWithOutInit again", RET_USER_ALREADY_LOGGED_IN,
                lm.loginWithOutInit(sess1[0], USER, PASSWORD));
        checkEq("first session valid", 0, lm.validSession(sess1[0]));
        checkEq("logout of the first session", 0, lm.logout(0, sess1[0]));
        // That logout cleaned the SDK up for the whole process.
        checkEq("shutdown after the clean-up", ERR_LIB_NOT_INITIALIZED, lm.logout(app2[0], 0));
    }

    // ---- scenario "refusals": nothing may reach the daemon ----

    void refusalsBeforeAnyRequest() {
        Object[][] cases = {
            {"null partition name", null, sentinel(), sentinel()},
            {"null application id array", PARTITION, null, sentinel()},
            {"null session handle array", PARTITION, sentinel(), null},
            {"empty application id array", PARTITION, new int[0], sentinel()},
            {"empty session handle array", PARTITION, sentinel(), new int[0]},
        };
        for (Object[] c : cases) {
            int[] app = (int[]) c[2];
            int[] sess = (int[]) c[3];
            checkEq((String) c[0], UNUSABLE, lm.login((String) c[1], USER, PASSWORD, app, sess));
            check(c[0] + ": application id untouched", app == null || app.length == 0 || app[0] == SENTINEL);
            check(c[0] + ": session handle untouched", sess == null || sess.length == 0 || sess[0] == SENTINEL);
        }
    }

    void sha256() throws Exception {
        Random rnd = new Random(1234);
        MessageDigest md = MessageDigest.getInstance("SHA-256");
        for (int len : new int[] {1, 55, 56, 64, 1000, 70000}) {
            byte[] in = new byte[len];
            rnd.nextBytes(in);
            byte[] out = new byte[32];
            checkEq("sha256 of " + len + " bytes", 0, lm.getSHA256Hash(in, out));
            check("sha256 of " + len + " bytes matches MessageDigest", Arrays.equals(md.digest(in), out));
        }
        byte[] in = "abc".getBytes("US-ASCII");
        byte[] wide = new byte[64];
        Arrays.fill(wide, (byte) 0x77);
        checkEq("sha256 into 64 bytes", 0, lm.getSHA256Hash(in, wide));
        check("digest in bytes 0-31", Arrays.equals(md.digest(in), Arrays.copyOf(wide, 32)));
        boolean tailKept = true;
        for (int i = 32; i < 64; i++) {
            tailKept &= wide[i] == 0x77;
        }
        check("bytes 32-63 keep their contents", tailKept);

        Object[][] refusals = {
            {"output of 31 bytes", in, new byte[31], ERR_INVALID_INPUT},
            {"null input", null, new byte[32], ERR_INVALID_INPUT},
            {"null output", in, null, ERR_INVALID_INPUT},
            {"empty input", new byte[0], new byte[32], UNUSABLE},
            {"empty output", in, new byte[0], UNUSABLE},
        };
        for (Object[] c : refusals) {
            byte[] out = (byte[]) c[2];
            if (out != null) {
                Arrays.fill(out, (byte) 0x77);
            }
            byte[] before = out == null ? null : out.clone();
            checkEq("sha256 " + c[0], (Integer) c[3], lm.getSHA256Hash((byte[]) c[1], out));
            check("sha256 " + c[0] + ": output untouched", Arrays.equals(before, out));
        }
    }

    // ---- scenarios with a FIPS state that ends the login ----

    void hsmFipsOff() {
        int[] app = sentinel();
        int[] sess = sentinel();
        checkEq("login with the HSM's FIPS state 0xFFFFFFFF", UNUSABLE,
                lm.login(PARTITION, USER, PASSWORD, app, sess));
        check("application id copied back", app[0] != SENTINEL && app[0] != 0);
        checkEq("no session handle", SENTINEL, sess[0]);
    }

    void partitionFipsOff() {
        int[] app = sentinel();
        int[] sess = sentinel();
        checkEq("login with the partition's FIPS state 0xFF", UNUSABLE,
                lm.login(PARTITION, USER, PASSWORD, app, sess));
        check("application id copied back", app[0] != SENTINEL && app[0] != 0);
        check("session handle copied back", sess[0] != SENTINEL && sess[0] != 0);
        check("session gone with the clean-up", lm.validSession(sess[0]) != 0);
    }

    // ---- scenario "logout_fails": the HSM refuses every logout ----

    void logoutFails() {
        int[] app = sentinel();
        int[] sess = sentinel();
        checkEq("login", 0, lm.login(PARTITION, USER, PASSWORD, app, sess));
        // With an application id the result is the shutdown's, not the logout's.
        checkEq("logout with an application id", 0, lm.logout(app[0], sess[0]));

        checkEq("second login", 0, lm.login(PARTITION, USER, PASSWORD, app, sess));
        checkEq("logout of the session alone", RET_INVALID_SESSION, lm.logout(0, sess[0]));
        // Whatever the logout said, the SDK was cleaned up: a new login works.
        checkEq("login after the failed logout", 0, lm.login(PARTITION, USER, PASSWORD, app, sess));
        checkEq("last logout", 0, lm.logout(app[0], 0));
    }

    public static void main(String[] args) throws Exception {
        LoginManagerTest t = new LoginManagerTest();
        String scenario = args.length > 0 ? args[0] : "";
        switch (scenario) {
            case "login":
                t.rightPassword();
                t.failedLoginsHandBackIds();
                t.unusableStringsAfterTheSession();
                t.loginWithOutInitRefusals();
                break;
            case "refusals":
                t.refusalsBeforeAnyRequest();
                t.sha256();
                break;
            case "hsm_fips_off":
                t.hsmFipsOff();
                break;
            case "partition_fips_off":
                t.partitionFipsOff();
                break;
            case "login_without_init":
                t.loginWithOutInit();
                break;
            case "logout_fails":
                t.logoutFails();
                break;
            default:
                check("known scenario '" + scenario + "'", false);
        }
        finish();
    }
}
