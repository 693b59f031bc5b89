import com.ostrel.qel2.Generator;
import com.ostrel.qel2.ImportKey;
import com.ostrel.qel2.Util;

import java.util.Arrays;
import java.util.function.IntSupplier;

/**
 * Arguments the bridge refuses before any request: each case returns its
 * status without the SDK being started (the launcher checks that the
 * stand-in saw nothing) and leaves every sentinel-filled output as it was.
 */
public final class BridgeRefusalTest extends BridgeTest {
    static final int S = 0x01004000;  // a session handle nobody opened
    static final long K = 0x1234;
    static final byte[] RFC_IV = {(byte) 0xA6, (byte) 0xA6, (byte) 0xA6, (byte) 0xA6,
                                  (byte) 0xA6, (byte) 0xA6, (byte) 0xA6, (byte) 0xA6};

    /** One refusal: what it is, the call, its status, the outputs it must not touch. */
    record Case(String name, IntSupplier call, int status, Object... outputs) {
    }

    static Object[] snapshot(Object[] outputs) {
        Object[] s = new Object[outputs.length];
        for (int i = 0; i < outputs.length; i++) {
            Object o = outputs[i];
            s[i] = o instanceof byte[] b ? b.clone() : o instanceof int[] n ? n.clone() : ((long[]) o).clone();
        }
        return s;
    }

    static boolean same(Object a, Object b) {
        return a instanceof byte[] x ? Arrays.equals(x, (byte[]) b)
                : a instanceof int[] y ? Arrays.equals(y, (int[]) b) : Arrays.equals((long[]) a, (long[]) b);
    }

    static int[] ints(int... v) {
        return v;
    }

    public static void main(String[] args) {
        byte[] d32 = filled(32);
        byte[] d31 = filled(31);
        byte[] d19 = filled(19);
        byte[] big = new byte[65536];
        byte[] msg = filled(10);
        byte[] out16 = filled(16);
        byte[] out40 = filled(40);
        byte[] iv4 = filled(4);
        byte[] tag256 = new byte[256];
        byte[] key16 = filled(16);
        long[] h1 = handles(1);
        long[] h1b = handles(1);
        long[] h0 = new long[0];
        long[] h4 = handles(4);
        int[] len16 = ints(16);
        int[] len41 = ints(41);
        int[] lenNeg = ints(-1);
        int[] count10 = ints(10);
        int[] countNeg = ints(-5);
        int[] none = new int[0];
        int[] one = ints(0x5A5A5A5A);

        Case[] cases = {
            // key store
            new Case("findKey null label", () -> Util.findKey(S, null, h1), UNUSABLE, h1),
            new Case("findKey null handle array", () -> Util.findKey(S, "x", null), UNUSABLE),
            new Case("findKey empty handle array", () -> Util.findKey(S, "x", h0), UNUSABLE),
            new Case("searchKeyStore null count", () -> Util.searchKeyStore(S, 0, 0, -1, -1, (byte) 255,
                    null, msg, null, h4, null), UNUSABLE, h4),
            new Case("searchKeyStore empty count", () -> Util.searchKeyStore(S, 0, 0, -1, -1, (byte) 255,
                    null, msg, null, h4, none), UNUSABLE, h4),
            new Case("searchKeyStore negative room", () -> Util.searchKeyStore(S, 0, 0, -1, -1, (byte) 255,
                    null, msg, null, h4, countNeg), UNUSABLE, h4, countNeg),
            new Case("searchKeyStore room beyond the array", () -> Util.searchKeyStore(S, 0, 0, -1, -1,
                    (byte) 255, null, msg, null, h4, count10), UNUSABLE, h4, count10),
            new Case("searchKeyStore2 room beyond the array", () -> Util.searchKeyStore2(S, 0, 0, -1, -1,
                    (byte) 255, null, msg, null, msg, h4, count10), UNUSABLE, h4, count10),
            new Case("getKeyAttributes null length", () -> Util.getKeyAttributes(S, K, out16, null),
                    UNUSABLE, out16),
            new Case("getKeyAttributes room beyond the array", () -> Util.getKeyAttributes(S, K, out40, len41),
                    UNUSABLE, out40, len41),
            new Case("getKeyAttributes negative room", () -> Util.getKeyAttributes(S, K, out16, lenNeg),
                    UNUSABLE, out16, lenNeg),
            new Case("getKeyCount null partition", () -> Util.getKeyCount(S, null, one), UNUSABLE, one),
            new Case("getKeyCount empty output", () -> Util.getKeyCount(S, PARTITION, none), UNUSABLE),
            new Case("getFipsState null output", () -> Util.getFipsState(S, PARTITION, null), UNUSABLE),
            new Case("setenv null name", () -> Util.setenv(null, "v"), UNUSABLE),
            new Case("setenv null value", () -> Util.setenv("QEL2_JNI_X", null), UNUSABLE),
            // hash, HMAC, random
            new Case("hash of 65536 bytes", () -> Util.generateHash(S, 3, big, d32), UNUSABLE, d32),
            new Case("SHA-256 into 31 bytes", () -> Util.generateHash(S, 3, msg, d31), UNUSABLE, d31),
            new Case("SHA-1 into 19 bytes", () -> Util.generateHash(S, 2, msg, d19), UNUSABLE, d19),
            new Case("hash into null", () -> Util.generateHash(S, 3, msg, null), UNUSABLE),
            new Case("HMAC of 65536 bytes", () -> Util.generateHmac(S, 3, K, big, d32), UNUSABLE, d32),
            new Case("HMAC SHA-512 into 32 bytes", () -> Util.generateHmac(S, 5, K, msg, d32), UNUSABLE, d32),
            new Case("random into an empty array", () -> Util.secureRandom(S, false, new byte[0]), UNUSABLE),
            new Case("random into null", () -> Util.secureRandom(S, true, null), UNUSABLE),
            // export and wrap
            new Case("exportKey null length", () -> Util.exportKey(S, K, out16, null, 4241), UNUSABLE, out16),
            new Case("exportKey room beyond the array", () -> Util.exportKey(S, K, out40, len41, 4241),
                    UNUSABLE, out40, len41),
            new Case("exportKey negative room", () -> Util.exportKey(S, K, null, lenNeg, 4241),
                    UNUSABLE, lenNeg),
            new Case("exportPublicKey room beyond the array", () -> Util.exportPublicKey(S, K, out40, len41),
                    UNUSABLE, out40, len41),
            new Case("wrapKey room beyond the array", () -> Util.wrapKey(S, K, K, out40, len41, 4240, null,
                    -1, null), UNUSABLE, out40, len41),
            new Case("wrapKey IV shorter than the mechanism's", () -> Util.wrapKey(S, K, K, out40, len16,
                    4240, iv4, -1, null), UNUSABLE, out40, len16, iv4),
            new Case("GCM wrap with a 256-byte tag", () -> Util.wrapKey(S, K, K, out40, len16, 4231, out16,
                    -1, tag256), UNUSABLE, out40, len16, out16),
            // unwrap: the key type is judged before the template is built
            new Case("unwrap key type 2", () -> Util.unwrapKey(S, 2, key16, "l", false, true, h1, K, 4240,
                    RFC_IV, -1, 0, 16), ERR_INVALID_INPUT, h1),
            new Case("unwrap null data", () -> Util.unwrapKey(S, 31, null, "l", false, true, h1, K, 4240,
                    RFC_IV, -1, 0, 16), UNUSABLE, h1),
            new Case("unwrap empty data", () -> Util.unwrapKey(S, 31, new byte[0], "l", false, true, h1, K,
                    4240, RFC_IV, -1, 0, 16), UNUSABLE, h1),
            new Case("unwrap null label", () -> Util.unwrapKey(S, 31, key16, null, false, true, h1, K, 4240,
                    RFC_IV, -1, 0, 16), UNUSABLE, h1),
            new Case("unwrap empty handle array", () -> Util.unwrapKey(S, 31, key16, "l", false, true, h0, K,
                    4240, RFC_IV, -1, 0, 16), UNUSABLE),
            new Case("unwrap IV shorter than the mechanism's", () -> Util.unwrapKey(S, 31, key16, "l", false,
                    true, h1, K, 4240, iv4, -1, 0, 16), UNUSABLE, h1),
            new Case("GCM unwrap tag of 17", () -> Util.unwrapKey(S, 31, out40, "l", false, true, h1, K, 4231,
                    out16, -1, 17, 16), UNUSABLE, h1),
            new Case("GCM unwrap tag longer than the data", () -> Util.unwrapKey(S, 31, filled(8), "l", false,
                    true, h1, K, 4231, out16, -1, 12, 16), UNUSABLE, h1),
            new Case("GCM unwrap IV of 11", () -> Util.unwrapKey(S, 31, out40, "l", false, true, h1, K, 4231,
                    filled(11), -1, 16, 16), UNUSABLE, h1),
            new Case("GCM unwrap negative tag", () -> Util.unwrapKey(S, 31, out40, "l", false, true, h1, K,
                    4231, out16, -1, -1, 16), UNUSABLE, h1),
            // generation
            new Case("RSA pair null public label", () -> Generator.generateRSAKeyPair(S, 2048, 65537, null, "b",
                    true, false, h1, h1b), UNUSABLE, h1, h1b),
            new Case("RSA pair empty private handle array", () -> Generator.generateRSAKeyPair(S, 2048, 65537,
                    "a", "b", true, false, h1, h0), UNUSABLE, h1),
            new Case("EC pair null public handle array", () -> Generator.generateECKeyPair(S, 415, "a", "b",
                    true, false, null, h1b), UNUSABLE, h1b),
            new Case("AES null label", () -> Generator.generateAESKey(S, 256, null, true, false, h1),
                    UNUSABLE, h1),
            new Case("3DES empty handle array", () -> Generator.generateDESKey(S, "l", true, false, h0), UNUSABLE),
            new Case("generic secret null handle array", () -> Generator.generateGenericSecretKey(S, 256, "l",
                    true, false, null), UNUSABLE),
            // public key import
            new Case("symmetric import null key", () -> ImportKey.importSymmetricKey(S, 31, null, "l", false,
                    true, h1, 4241), UNUSABLE, h1),
            new Case("symmetric import empty handle array", () -> ImportKey.importSymmetricKey(S, 31, key16,
                    "l", false, true, h0, 4241), UNUSABLE),
            new Case("RSA private import null label", () -> ImportKey.importRSAPrivateKey(S, key16, null, 65537,
                    2048, false, true, h1, 4241), UNUSABLE, h1),
            new Case("EC private import empty key", () -> ImportKey.importECPrivateKey(S, new byte[0], "l", 415,
                    false, true, h1, 4241), UNUSABLE, h1),
            new Case("RSA public import null key", () -> ImportKey.importRSAPublicKey(S, null, 65537, "l",
                    false, h1), UNUSABLE, h1),
            new Case("RSA public import empty key", () -> ImportKey.importRSAPublicKey(S, new byte[0], 65537,
                    "l", false, h1), UNUSABLE, h1),
            new Case("EC public import null label", () -> ImportKey.importECPublicKey(S, key16, 415, null,
                    false, h1), UNUSABLE, h1),
            new Case("EC public import empty handle array", () -> ImportKey.importECPublicKey(S, key16, 415,
                    "l", false, h0), UNUSABLE),
        };
        for (Case c : cases) {
            Object[] before = snapshot(c.outputs());
            checkEq(c.name(), c.status(), c.call().getAsInt());
            for (int i = 0; i < before.length; i++) {
                check(c.name() + ": output " + i + " untouched", same(before[i], c.outputs()[i]));
            }
        }
        finish();
    }
}
