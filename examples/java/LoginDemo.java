import com.ostrel.qel2.LoginManager;

/**
 * Logs a crypto user into an HSM partition through the Java bridge, checks
 * the session, and logs out again.
 *
 * <pre>
 *   java -Djava.library.path=&lt;dir of libqel2.so&gt; -cp qel2.jar LoginDemo.java \
 *        [partition] [user] [password]
 * </pre>
 * The daemon is found through the same environment as for native callers
 * (tessaline_daemon_id, ...).
 */
public final class LoginDemo {
    public static void main(String[] args) {
        String partition = args.length > 0 ? args[0] : "PARTITION_1";
        String user = args.length > 1 ? args[1] : "crypto_user";
        String password = args.length > 2 ? args[2] : "user_password";

        LoginManager lm = new LoginManager();
        int[] appId = new int[1];
        int[] session = new int[1];
        int status = lm.login(partition, user, password, appId, session);
        if (status != 0) {
            System.out.printf("login to %s as %s failed: 0x%08x%n", partition, user, status);
            System.exit(1);
        }
        System.out.printf("logged in to %s as %s: application id 0x%08x, session handle 0x%08x%n",
                          partition, user, appId[0], session[0]);
        System.out.printf("session valid: %s%n", lm.validSession(session[0]) == 0 ? "yes" : "no");

        byte[] digest = new byte[32];
        lm.getSHA256Hash("abc".getBytes(java.nio.charset.StandardCharsets.US_ASCII), digest);
        StringBuilder hex = new StringBuilder();
        for (byte b : digest) {
            hex.append(String.format("%02x", b & 0xff));
        }
        System.out.println("SHA-256(\"abc\") on the host: " + hex);

        status = lm.logout(appId[0], session[0]);
        System.out.printf("logout: 0x%08x%n", status);
        System.exit(status == 0 ? 0 : 1);
    }
}
