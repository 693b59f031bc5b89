import com.ostrel.qel2.Generator;
import com.ostrel.qel2.Util;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/**
 * Util key store natives in a real JVM against the stand-in, which the
 * launcher seeds with MANY_KEYS token keys labelled "many" (more than one
 * search answer can carry).
 */
public final class KeyStoreTest extends BridgeTest {
    static final int MANY_KEYS = 8190;
    static final int MAX_FETCH = (0xFFFF - 24) / 8;  // 8188
    static final int ANY = -1;
    static final byte ANY_LOCATION = (byte) 255;
    static final byte TOKEN = 1;

    long aes(String label) {
        long[] h = handles(1);
        checkEq("generate AES key " + label, 0, Generator.generateAESKey(session, 128, label, true, false, h));
        return h[0];
    }

    int search(String label, byte location, long[] found, int[] count) {
        byte[] l = label.getBytes(StandardCharsets.US_ASCII);
        return Util.searchKeyStore(session, 0, 0, ANY, ANY, location, null, l, null, found, count);
    }

    void findAndSearch() {
        long[] trio = {aes("trio"), aes("trio"), aes("trio")};
        long[] sorted = trio.clone();
        Arrays.sort(sorted);

        long[] out = handles(1);
        checkEq("findKey of three", 0, Util.findKey(session, "trio", out));
        checkEq("findKey writes the first match", trio[0], out[0]);
        out = handles(1);
        checkEq("findKey of none", 0, Util.findKey(session, "nothing-here", out));
        checkEq("findKey of none leaves the handle", SENTINEL, out[0]);

        // The byte-array label goes without a NUL and still matches.
        int[] count = {10};
        long[] found = handles(10);
        checkEq("search with room for 10", 0, search("trio", ANY_LOCATION, found, count));
        checkEq("three found", 3, count[0]);
        long[] got = Arrays.copyOf(found, 3);
        Arrays.sort(got);
        check("the three handles", Arrays.equals(sorted, got));
        checkEq("room after the matches untouched", SENTINEL, found[3]);

        count = new int[] {2};
        found = handles(3);
        checkEq("search with room for 2 of 3", RET_RESULT_SIZE, search("trio", ANY_LOCATION, found, count));
        checkEq("count stays at the room", 2, count[0]);
        check("two handles delivered", found[0] != SENTINEL && found[1] != SENTINEL);
        checkEq("third element untouched", SENTINEL, found[2]);

        count = new int[] {0};
        int r = search("trio", ANY_LOCATION, null, count);
        check("count query status", r == 0 || r == RET_RESULT_SIZE);
        checkEq("count query", 3, count[0]);

        // The second form with a null key check value searches as the first.
        count = new int[] {10};
        found = handles(10);
        checkEq("searchKeyStore2", 0, Util.searchKeyStore2(session, 0, 0, ANY, ANY, ANY_LOCATION, null,
                "trio".getBytes(StandardCharsets.US_ASCII), null, null, found, count));
        got = Arrays.copyOf(found, count[0]);
        Arrays.sort(got);
        check("searchKeyStore2 finds the same three", Arrays.equals(sorted, got));

        // More matches than one answer carries: the room is capped, the rest
        // comes from the next index.
        count = new int[] {10000};
        found = handles(10000);
        checkEq("search with room beyond one answer", RET_RESULT_SIZE, search("many", ANY_LOCATION, found, count));
        checkEq("one answer's worth", MAX_FETCH, count[0]);
        checkEq("nothing written past it", SENTINEL, found[MAX_FETCH]);
        long firstMany = found[0];
        count = new int[] {10};
        found = handles(10);
        checkEq("search from the next index", 0,
                Util.searchKeyStore(session, 0, MAX_FETCH, ANY, ANY, ANY_LOCATION, null,
                        "many".getBytes(StandardCharsets.US_ASCII), null, found, count));
        checkEq("the rest", MANY_KEYS - MAX_FETCH, count[0]);

        // findKey's fetch is capped too; the HSM's "more follow" still finds.
        out = handles(1);
        checkEq("findKey with more matches than one answer", 0, Util.findKey(session, "many", out));
        checkEq("findKey gives the first of them", firstMany, out[0]);
    }

    void attributes() {
        long key = aes("attrs");
        int[] len = {0};
        checkEq("attribute size query", RET_RESULT_SIZE, Util.getKeyAttributes(session, key, null, len));
        check("attribute length", len[0] > 0);
        int needed = len[0];
        int[] huge = {Integer.MAX_VALUE};
        checkEq("size query stating a huge room", RET_RESULT_SIZE, Util.getKeyAttributes(session, key, null, huge));
        checkEq("size query stating a huge room: length", needed, huge[0]);

        // The stated length counts a 20-byte answer head beside the data.
        int data = needed - 20;
        byte[] small = filled(data - 1);
        int[] smallLen = {data - 1};
        int r = Util.getKeyAttributes(session, key, small, smallLen);
        check("short buffer refused by the SDK (0x" + Integer.toHexString(r) + ")",
              r == RET_RESULT_SIZE || r == ERR_BUFFER_TOO_SMALL);
        checkEq("short buffer: length untouched", data - 1, smallLen[0]);
        check("short buffer: bytes untouched", allFill(small, 0));

        byte[] buf = filled(needed + 16);
        int[] bufLen = {needed + 16};
        checkEq("attributes", 0, Util.getKeyAttributes(session, key, buf, bufLen));
        checkEq("attribute length as queried", needed, bufLen[0]);
        // The data: an Object head whose obj_size counts the attribute bytes.
        int objSize = ((buf[8] & 0xFF) << 24) | ((buf[9] & 0xFF) << 16) | ((buf[10] & 0xFF) << 8) | (buf[11] & 0xFF);
        checkEq("attribute data as the head states", data, 12 + objSize);
        check("bytes past the attribute data untouched", allFill(buf, data));
    }

    void persistDeleteCount() {
        int[] before = {-1};
        checkEq("getKeyCount", 0, Util.getKeyCount(session, PARTITION, before));
        long key = aes("persist-me");
        int[] after = {-1};
        checkEq("getKeyCount after one more", 0, Util.getKeyCount(session, PARTITION, after));
        checkEq("one more key counted", before[0] + 1, after[0]);
        check("the seeded keys counted", before[0] >= MANY_KEYS);

        int[] count = {4};
        long[] found = handles(4);
        checkEq("token search before persisting", 0, search("persist-me", TOKEN, found, count));
        checkEq("no token object yet", 0, count[0]);
        checkEq("persistKey", 0, Util.persistKey(session, key));
        count[0] = 4;
        checkEq("token search after persisting", 0, search("persist-me", TOKEN, found, count));
        checkEq("now a token object", 1, count[0]);
        checkEq("the same key", key, found[0]);

        checkEq("deleteKey", 0, Util.deleteKey(session, key));
        long[] out = handles(1);
        checkEq("findKey after delete", 0, Util.findKey(session, "persist-me", out));
        checkEq("deleted key not found", SENTINEL, out[0]);
        check("deleteKey again fails", Util.deleteKey(session, key) != 0);

        int[] fips = {-1};
        checkEq("getFipsState", 0, Util.getFipsState(session, PARTITION, fips));
        checkEq("FIPS state of the stand-in's partition", 2, fips[0]);
        int[] none = {-1};
        check("getKeyCount of an unknown partition", Util.getKeyCount(session, "NO_SUCH_PART", none) != 0);
        checkEq("unknown partition: count untouched", -1, none[0]);
    }

    void smallServices() {
        String ok = Util.getQelErrorText(0);
        check("text of success", ok != null && !ok.isEmpty());
        String other = Util.getQelErrorText(ERR_INVALID_INPUT);
        check("text of another code differs", other != null && !other.equals(ok));
        check("isClientMode", Util.isClientMode());
        checkEq("setenv", 0, Util.setenv("QEL2_JNI_TEST_VARIABLE", "value"));
        checkEq("setenv replaces", 0, Util.setenv("QEL2_JNI_TEST_VARIABLE", "other"));
    }

    public static void main(String[] args) {
        KeyStoreTest t = new KeyStoreTest();
        t.login();
        t.findAndSearch();
        t.attributes();
        t.persistDeleteCount();
        t.smallServices();
        t.logout();
        finish();
    }
}
