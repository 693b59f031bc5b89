import com.ostrel.qel2.Cryptography;
import com.ostrel.qel2.Signatures;
import com.ostrel.qel2.Util;

import java.math.BigInteger;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.interfaces.RSAPublicKey;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.IntSupplier;
import javax.crypto.Cipher;
import javax.crypto.KeyAgreement;
import javax.crypto.SecretKey;

/**
 * Key component, signature and cipher natives in a real JVM against the
 * stand-in HSM, every result checked with the JDK's own providers. The
 * launcher (jvm_launcher.cpp) seeds the keys of scenario "crypto" and hands
 * their handles and public halves over in QEL2_JNI_* variables; scenario
 * "crypto_host" runs the host-side natives and every refusal, and the
 * launcher checks that no request reached the daemon.
 * Prints "N passed, N failed"; exits non-zero on any failure.
 */
public final class CryptoTest extends BridgeTest {
    static final int ERR_BAD_PKCS_DATA = 27;
    static final int ERR_ARGUMENTS_BAD = 0x40000206;
    static final int ERR_KEY_INCONSISTENT = 0x40000213;

    // HashType numbering.
    static final int SHA1 = 2, SHA256 = 3, SHA384 = 4, SHA512 = 5, SHA224 = 6;
    static final String[] JAVA_HASH = {null, "MD5", "SHA-1", "SHA-256", "SHA-384", "SHA-512", "SHA-224"};
    static final int P256 = 2;

    static void checkBytes(String what, byte[] expected, byte[] actual) {
        check(what, Arrays.equals(expected, actual));
    }

    static int[] filledInt(int value) {
        return new int[] {value};
    }

    static byte[] random(int n) {
        byte[] b = new byte[n];
        RNG.nextBytes(b);
        return b;
    }

    static final SecureRandom RNG = new SecureRandom();

    static String env(String name) {
        String v = System.getenv(name);
        if (v == null) {
            throw new IllegalStateException("launcher did not set " + name);
        }
        return v;
    }

    static byte[] slice(byte[] b, int from, int len) {
        return Arrays.copyOfRange(b, from, from + len);
    }

    static byte[] concat(byte[] a, byte[] b) {
        byte[] out = Arrays.copyOf(a, a.length + b.length);
        System.arraycopy(b, 0, out, a.length, b.length);
        return out;
    }

    // r and s as a DER SEQUENCE of two INTEGERs (what java.security.Signature takes).
    static byte[] derSignature(byte[] r, byte[] s) {
        byte[] ri = new BigInteger(1, r).toByteArray();
        byte[] si = new BigInteger(1, s).toByteArray();
        int len = 2 + ri.length + 2 + si.length;
        byte[] out = new byte[2 + len];
        int i = 0;
        out[i++] = 0x30;
        out[i++] = (byte) len;
        out[i++] = 0x02;
        out[i++] = (byte) ri.length;
        System.arraycopy(ri, 0, out, i, ri.length);
        i += ri.length;
        out[i++] = 0x02;
        out[i++] = (byte) si.length;
        System.arraycopy(si, 0, out, i, si.length);
        return out;
    }

    static byte[] digest(int hashType, byte[] msg) throws Exception {
        return MessageDigest.getInstance(JAVA_HASH[hashType]).digest(msg);
    }

    // ======================= scenario "crypto_host" =======================

    void rsaComponents() throws Exception {
        for (int bits : new int[] {1024, 2048, 3072}) {
            KeyPairGenerator g = KeyPairGenerator.getInstance("RSA");
            g.initialize(bits);
            KeyPair kp = g.generateKeyPair();
            RSAPrivateCrtKey k = (RSAPrivateCrtKey) kp.getPrivate();
            int mod = bits / 8, half = mod / 2;
            int total = 3 * mod + 5 * half;
            // Sentinel-filled: every byte left of a shorter value must come back zero.
            byte[] out = filled(total);
            int[] len = {total};
            int[] modOut = filledInt(-7);
            String what = "components of RSA-" + bits;
            checkEq(what, 0, Util.getRSAPrivateKeyComponents(k.getEncoded(), out, len, modOut));
            checkEq(what + ": length", total, len[0]);
            checkEq(what + ": modulus length", mod, modOut[0]);
            BigInteger[] values = {k.getModulus(), k.getPrivateExponent(), k.getPrimeQ(),
                                   k.getPrimeExponentQ(), k.getPrimeP(), k.getPrimeExponentP(),
                                   k.getCrtCoefficient(), k.getPublicExponent()};
            int[] widths = {mod, mod, half, half, half, half, half, mod};
            String[] names = {"n", "d", "q", "dq", "p", "dp", "qinv", "e"};
            int at = 0;
            for (int i = 0; i < values.length; i++) {
                checkBytes(what + ": " + names[i], fixed(values[i], widths[i]), slice(out, at, widths[i]));
                at += widths[i];
            }

            // One byte short: the needed length, modulus length 0, nothing written.
            byte[] small = filled(total - 1);
            int[] smallLen = {total - 1};
            int[] smallMod = filledInt(-7);
            checkEq(what + ": short buffer", ERR_BUFFER_TOO_SMALL,
                    Util.getRSAPrivateKeyComponents(k.getEncoded(), small, smallLen, smallMod));
            checkEq(what + ": needed length", total, smallLen[0]);
            checkEq(what + ": no modulus length", 0, smallMod[0]);
            checkBytes(what + ": short buffer untouched", filled(total - 1), small);
        }

        byte[] ecKey = ecGenerator("secp256r1").generateKeyPair().getPrivate().getEncoded();
        int[] len = {2000};
        checkEq("EC PKCS#8 is not an RSA key", ERR_KEY_INCONSISTENT,
                Util.getRSAPrivateKeyComponents(ecKey, new byte[2000], len, new int[1]));
        checkEq("DER garbage", ERR_KEY_INCONSISTENT,
                Util.getRSAPrivateKeyComponents(random(300), new byte[2000], len, new int[1]));
    }

    void ecDomainParameters() throws Exception {
        byte[] p256Seed = unhex("c49d360886e704936a6678e1139d26b7819f7e90");
        byte[] p384Seed = unhex("a335926aa319a27a1d00896a6773a4827acdac73");
        Object[][] curves = {{2, "secp256r1", 32, p256Seed}, {3, "secp384r1", 48, p384Seed},
                             {5, "secp256k1", 32, new byte[32]}};
        for (Object[] c : curves) {
            int id = (Integer) c[0];
            int len = (Integer) c[2];
            byte[] seedWant = (byte[]) c[3];
            Object curve = ecCurve((String) c[1]);
            byte[] seed = filled(seedWant.length);
            byte[] p = filled(len + 16);  // longer than the field: the tail keeps its bytes
            byte[] gx = filled(len), gy = filled(len), a = filled(len), b = filled(len), n = filled(len);
            int[] h = filledInt(-7);
            String what = "domain parameters of " + c[1];
            checkEq(what, 0, Util.getECKeyDomainParameters(id, seed, p, gx, gy, a, b, n, h));
            checkBytes(what + ": seed", seedWant, seed);
            checkBytes(what + ": p", fixed(big(curve, "getCurve", "getField", "getP"), len), slice(p, 0, len));
            checkBytes(what + ": bytes past p untouched", filled(16), slice(p, len, 16));
            checkBytes(what + ": a", fixed(big(curve, "getCurve", "getA"), len), a);
            checkBytes(what + ": b", fixed(big(curve, "getCurve", "getB"), len), b);
            checkBytes(what + ": Gx", fixed(big(curve, "getGenerator", "getAffineX"), len), gx);
            checkBytes(what + ": Gy", fixed(big(curve, "getGenerator", "getAffineY"), len), gy);
            checkBytes(what + ": order", fixed(big(curve, "getOrder"), len), n);
            checkEq(what + ": cofactor", (Integer) value(curve, "getCofactor"), h[0]);
        }
    }

    void pointOnCurve() throws Exception {
        Object[][] curves = {{"secp256r1", 415, 32}, {"secp384r1", 715, 48}, {"secp521r1", 716, 66}};
        for (Object[] c : curves) {
            var w = ((ECPublicKey) ecGenerator((String) c[0]).generateKeyPair().getPublic()).getW();
            int nid = (Integer) c[1];
            int digits = 2 * (Integer) c[2];
            String x = w.getAffineX().toString(16);
            String y = w.getAffineY().toString(16);
            String xPadded = "0".repeat(digits - x.length()) + x;
            String yPadded = "0".repeat(digits - y.length()) + y;
            String yPlusOne = w.getAffineY().add(BigInteger.ONE).toString(16);
            String what = "point of " + c[0];
            check(what + " on its curve", Util.isPointOnCurve(nid, x, y));
            check(what + " with leading zero digits", Util.isPointOnCurve(nid, xPadded, yPadded));
            check(what + " in upper case", Util.isPointOnCurve(nid, x.toUpperCase(), y.toUpperCase()));
            check(what + " with y + 1 is off the curve", !Util.isPointOnCurve(nid, x, yPlusOne));
            check(what + " with x and y swapped", !Util.isPointOnCurve(nid, y, x));
            check(what + " with one digit too many", !Util.isPointOnCurve(nid, "0" + xPadded, y));
            check(what + " with a non-hex digit", !Util.isPointOnCurve(nid, "g" + x.substring(1), y));
            check(what + " with a null x", !Util.isPointOnCurve(nid, null, y));
            check(what + " with a null y", !Util.isPointOnCurve(nid, x, null));
            check(what + " on another curve", !Util.isPointOnCurve(nid == 415 ? 715 : 415, x, y));
        }
        check("unknown curve number", !Util.isPointOnCurve(0, "1", "2"));
    }

    /** One refusal: the call, its status, and the outputs that must stay as they were. */
    static final class Refusal {
        final String name;
        final int expected;
        final IntSupplier call;
        final byte[][] outputs;
        final int[][] intOutputs;

        Refusal(String name, int expected, IntSupplier call, byte[][] outputs, int[][] intOutputs) {
            this.name = name;
            this.expected = expected;
            this.call = call;
            this.outputs = outputs;
            this.intOutputs = intOutputs;
        }
    }

    static Refusal refusal(String name, int expected, IntSupplier call, Object... outputs) {
        List<byte[]> b = new ArrayList<>();
        List<int[]> i = new ArrayList<>();
        for (Object o : outputs) {
            if (o instanceof byte[]) {
                b.add((byte[]) o);
            } else if (o instanceof int[]) {
                i.add((int[]) o);
            }
        }
        return new Refusal(name, expected, call, b.toArray(new byte[0][]), i.toArray(new int[0][]));
    }

    void refusals() {
        final int s = 1;       // no session is needed: nothing may be sent
        final long key = 16;
        byte[] h32 = random(32);
        byte[] out256 = filled(256);
        byte[] sig128 = filled(128);
        byte[] sig255 = filled(255);
        byte[] sig513 = filled(513);
        byte[] hashOut128 = filled(128);
        byte[] r32 = filled(32), s32 = filled(32), r31 = filled(31);
        byte[] o17 = filled(17), o9 = filled(9), o16 = filled(16), o65536 = filled(65536);
        byte[] ct255 = filled(255), pt256 = filled(256);
        byte[] gcmOut = filled(40), gcmOut39 = filled(39), tag16 = filled(16), iv12 = filled(12);
        byte[] kw40 = filled(40);
        byte[] px = filled(32), py = filled(32), px31 = filled(31);
        int[] len1 = filledInt(0x5A5A), len40 = {41}, lenNeg = {-1};
        byte[] big = new byte[65536];
        Refusal[] cases = {
            refusal("rsaSign with an empty output", UNUSABLE,
                    () -> Signatures.rsaSign(s, 64, h32, key, new byte[0], len1), len1),
            refusal("rsaSign with a null output", UNUSABLE,
                    () -> Signatures.rsaSign(s, 64, h32, key, null, len1), len1),
            refusal("rsaSign without a length array", UNUSABLE,
                    () -> Signatures.rsaSign(s, 64, h32, key, out256, null), out256),
            refusal("rsaSign with an empty length array", UNUSABLE,
                    () -> Signatures.rsaSign(s, 64, h32, key, out256, new int[0]), out256),
            refusal("rsaVerify with an empty signature", UNUSABLE,
                    () -> Signatures.rsaVerify(s, 64, h32, new byte[0], key)),
            refusal("rsaSignPSS salt 33 with SHA-256 and 128 bytes", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaSignPSS(s, key, SHA256, 128, h32, sig128, 33), sig128),
            refusal("rsaSignPSS negative salt", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaSignPSS(s, key, SHA256, 128, h32, sig128, -2), sig128),
            refusal("rsaSignPSS with MD5", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaSignPSS(s, key, 1, 128, random(16), sig128, 16), sig128),
            refusal("rsaSignPSS with hash type 7", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaSignPSS(s, key, 7, 128, h32, sig128, 16), sig128),
            refusal("rsaSignPSS modulus of 127 bytes", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaSignPSS(s, key, SHA256, 127, h32, sig128, 32), sig128),
            refusal("rsaSignPSS modulus of 513 bytes", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaSignPSS(s, key, SHA256, 513, h32, sig513, 32), sig513),
            refusal("rsaSignPSS hash shorter than SHA-256", UNUSABLE,
                    () -> Signatures.rsaSignPSS(s, key, SHA256, 128, random(20), sig128, 20), sig128),
            refusal("rsaSignPSS empty hash", UNUSABLE,
                    () -> Signatures.rsaSignPSS(s, key, SHA256, 128, new byte[0], sig128, 0), sig128),
            refusal("rsaSignPSS signature shorter than the modulus", UNUSABLE,
                    () -> Signatures.rsaSignPSS(s, key, SHA256, 256, h32, sig255, 32), sig255),
            refusal("rsaVerifyPSS salt 33 with SHA-256 and 128 bytes", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaVerifyPSS(s, key, SHA256, 128, h32, sig128, hashOut128, 33, 128),
                    hashOut128),
            refusal("rsaVerifyPSS with MD5", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaVerifyPSS(s, key, 1, 128, random(16), sig128, hashOut128, 16, 128),
                    hashOut128),
            refusal("rsaVerifyPSS modulus of 127 bytes", ERR_BAD_PKCS_DATA,
                    () -> Signatures.rsaVerifyPSS(s, key, SHA256, 127, h32, sig128, hashOut128, 32, 128),
                    hashOut128),
            refusal("rsaVerifyPSS work array shorter than the modulus", UNUSABLE,
                    () -> Signatures.rsaVerifyPSS(s, key, SHA256, 256, h32, out256, hashOut128, 32, 128),
                    hashOut128),
            refusal("rsaVerifyPSS signature shorter than its length", UNUSABLE,
                    () -> Signatures.rsaVerifyPSS(s, key, SHA256, 256, h32, sig255, out256, 32, 256),
                    out256),
            refusal("rsaVerifyPSS signature length 70000", UNUSABLE,
                    () -> Signatures.rsaVerifyPSS(s, key, SHA256, 256, h32, out256, out256, 32, 70000),
                    out256),
            refusal("rsaVerifyPSS signature length 0", UNUSABLE,
                    () -> Signatures.rsaVerifyPSS(s, key, SHA256, 256, h32, out256, out256, 32, 0), out256),
            refusal("ecdsaSign with an empty k", UNUSABLE,
                    () -> Signatures.ecdsaSign(s, key, P256, h32, new byte[0], r32, s32), r32, s32),
            refusal("ecdsaSign with k of 65536 bytes", UNUSABLE,
                    () -> Signatures.ecdsaSign(s, key, P256, h32, big, r32, s32), r32, s32),
            refusal("ecdsaSign with a hash of 65536 bytes", UNUSABLE,
                    () -> Signatures.ecdsaSign(s, key, P256, big, h32, r32, s32), r32, s32),
            refusal("ecdsaSign with a null hash", UNUSABLE,
                    () -> Signatures.ecdsaSign(s, key, P256, null, h32, r32, s32), r32, s32),
            refusal("ecdsaSign with r shorter than the prime", UNUSABLE,
                    () -> Signatures.ecdsaSign(s, key, P256, h32, h32, r31, s32), r31, s32),
            refusal("ecdsaVerify on curve 6 (prime length 0)", ERR_ARGUMENTS_BAD,
                    () -> Signatures.ecdsaVerify(s, key, 6, h32, r32, s32), r32, s32),
            refusal("processAESDES operation 0", UNUSABLE,
                    () -> Cryptography.processAESDES(s, o16, o16, o16, key, 0), o16),
            refusal("processAESDES operation 11", UNUSABLE,
                    () -> Cryptography.processAESDES(s, o16, o16, o16, key, 11), o16),
            refusal("processAESDES CBC without an IV", UNUSABLE,
                    () -> Cryptography.processAESDES(s, random(16), o16, null, key, 1), o16),
            refusal("processAESDES AES IV of 8 bytes", UNUSABLE,
                    () -> Cryptography.processAESDES(s, random(16), o16, random(8), key, 2), o16),
            refusal("processAESDES 3DES IV of 7 bytes", UNUSABLE,
                    () -> Cryptography.processAESDES(s, random(8), o16, random(7), key, 3), o16),
            refusal("processAESDES CTR without an IV", UNUSABLE,
                    () -> Cryptography.processAESDES(s, random(16), o16, null, key, 9), o16),
            refusal("processAESDES AES-CBC output not rounded up", UNUSABLE,
                    () -> Cryptography.processAESDES(s, random(17), o17, random(16), key, 1), o17),
            refusal("processAESDES 3DES-ECB output not rounded up", UNUSABLE,
                    () -> Cryptography.processAESDES(s, random(9), o9, null, key, 7), o9),
            refusal("processAESDES input of 65536 bytes", UNUSABLE,
                    () -> Cryptography.processAESDES(s, big, o65536, null, key, 5), o65536),
            refusal("processAESDES null input", UNUSABLE,
                    () -> Cryptography.processAESDES(s, null, o16, null, key, 5), o16),
            refusal("processAESDES null output", UNUSABLE,
                    () -> Cryptography.processAESDES(s, random(16), null, null, key, 5)),
            refusal("pkcs1v15Enc block type 2", UNUSABLE,
                    () -> Cryptography.pkcs1v15Enc(s, key, 256, 2, h32, out256), out256),
            refusal("pkcs1v15Enc modulus length 0", UNUSABLE,
                    () -> Cryptography.pkcs1v15Enc(s, key, 0, 1, h32, out256), out256),
            refusal("pkcs1v15Enc modulus length 65792", UNUSABLE,
                    () -> Cryptography.pkcs1v15Enc(s, key, 65792, 1, h32, out256), out256),
            refusal("pkcs1v15Enc output shorter than the modulus", UNUSABLE,
                    () -> Cryptography.pkcs1v15Enc(s, key, 256, 1, h32, sig255), sig255),
            refusal("pkcs1v15Enc plaintext of 65536 bytes", UNUSABLE,
                    () -> Cryptography.pkcs1v15Enc(s, key, 256, 1, big, out256), out256),
            refusal("pkcs1v15Dec ciphertext shorter than the modulus", UNUSABLE,
                    () -> Cryptography.pkcs1v15Dec(s, key, 256, 1, ct255, pt256, len1), pt256, len1),
            refusal("pkcs1v15Dec without a length array", UNUSABLE,
                    () -> Cryptography.pkcs1v15Dec(s, key, 256, 1, out256, pt256, null), pt256),
            refusal("pkcs1v15Dec block type 2", UNUSABLE,
                    () -> Cryptography.pkcs1v15Dec(s, key, 256, 2, out256, pt256, len1), pt256, len1),
            refusal("pkcs1v22Dec with an empty length array", UNUSABLE,
                    () -> Cryptography.pkcs1v22Dec(s, key, 256, SHA256, out256, pt256, new int[0]), pt256),
            refusal("pkcs1v22Enc output shorter than the modulus", UNUSABLE,
                    () -> Cryptography.pkcs1v22Enc(s, key, 256, SHA256, h32, sig255), sig255),
            refusal("modExpEnc plaintext of 65536 bytes", UNUSABLE,
                    () -> Cryptography.modExpEnc(s, key, 256, big, out256), out256),
            refusal("modExpDec output shorter than the modulus", UNUSABLE,
                    () -> Cryptography.modExpDec(s, key, 256, out256, sig255), sig255),
            refusal("processAESGCM operation 3", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 3, random(40), gcmOut, null, null, null, tag16, iv12, key),
                    gcmOut, tag16, iv12),
            refusal("processAESGCM IV of 11 bytes", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 1, random(40), gcmOut, null, null, null, tag16,
                                                     filled(11), key),
                    gcmOut, tag16),
            refusal("processAESGCM IV of 17 bytes", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 1, random(40), gcmOut, null, null, null, tag16,
                                                     filled(17), key),
                    gcmOut, tag16),
            refusal("processAESGCM without an IV", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 1, random(40), gcmOut, null, null, null, tag16, null, key),
                    gcmOut, tag16),
            refusal("processAESGCM output shorter than the input", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 1, random(40), gcmOut39, null, null, null, tag16, iv12, key),
                    gcmOut39, tag16, iv12),
            refusal("processAESGCM encryption with an empty tag array", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 1, random(40), gcmOut, null, null, null, new byte[0],
                                                     iv12, key),
                    gcmOut, iv12),
            refusal("processAESGCM decryption with an empty tag", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 2, random(40), gcmOut, null, null, new byte[0], null,
                                                     iv12, key),
                    gcmOut, iv12),
            refusal("processAESGCM AAD of 65536 bytes", UNUSABLE,
                    () -> Cryptography.processAESGCM(s, 1, random(40), gcmOut, null, big, null, tag16, iv12, key),
                    gcmOut, tag16, iv12),
            refusal("aesWrap of nothing", UNUSABLE,
                    () -> Cryptography.aesWrap(s, key, new byte[0], kw40, len40), kw40, len40),
            refusal("aesWrap without a length array", UNUSABLE,
                    () -> Cryptography.aesWrap(s, key, random(20), kw40, null), kw40),
            refusal("aesWrap capacity beyond its array", UNUSABLE,
                    () -> Cryptography.aesWrap(s, key, random(20), kw40, len40), kw40, len40),
            refusal("aesWrap negative capacity", UNUSABLE,
                    () -> Cryptography.aesWrap(s, key, random(20), kw40, lenNeg), kw40, lenNeg),
            refusal("ecdhAgreement result shorter than the prime", UNUSABLE,
                    () -> Cryptography.ecdhAgreement(s, P256, random(32), random(32), random(32), key, px31, py),
                    px31, py),
            refusal("ecdhAgreement without a prime", UNUSABLE,
                    () -> Cryptography.ecdhAgreement(s, P256, null, random(32), random(32), key, px, py), px, py),
            refusal("ecdhAgreement peer coordinate shorter than the prime", UNUSABLE,
                    () -> Cryptography.ecdhAgreement(s, P256, random(32), random(31), random(32), key, px, py),
                    px, py),
            refusal("getECPublicPoint curve 6", UNUSABLE,
                    () -> Util.getECPublicPoint(s, key, 6, px, py), px, py),
            refusal("getECPublicPoint x shorter than the prime", UNUSABLE,
                    () -> Util.getECPublicPoint(s, key, P256, px31, py), px31, py),
            refusal("getECKeyDomainParameters curve 0", UNUSABLE,
                    () -> Util.getECKeyDomainParameters(0, filled(20), px, px, px, px, px, px, len1), px, len1),
            refusal("getECKeyDomainParameters curve 4", UNUSABLE,
                    () -> Util.getECKeyDomainParameters(4, filled(20), px, px, px, px, px, px, len1), px, len1),
            refusal("getECKeyDomainParameters empty seed array", UNUSABLE,
                    () -> Util.getECKeyDomainParameters(2, new byte[0], px, px, px, px, px, px, len1), px, len1),
            refusal("getECKeyDomainParameters without h", UNUSABLE,
                    () -> Util.getECKeyDomainParameters(2, filled(20), px, px, px, px, px, px, null), px),
            refusal("getRSAPrivateKeyComponents capacity beyond its array", UNUSABLE,
                    () -> Util.getRSAPrivateKeyComponents(random(100), kw40, len40, len1), kw40, len40, len1),
            refusal("getRSAPrivateKeyComponents of nothing", UNUSABLE,
                    () -> Util.getRSAPrivateKeyComponents(new byte[0], kw40, len1, len1), kw40, len1),
        };
        for (Refusal r : cases) {
            byte[][] before = new byte[r.outputs.length][];
            for (int i = 0; i < before.length; i++) {
                before[i] = r.outputs[i].clone();
            }
            int[][] intBefore = new int[r.intOutputs.length][];
            for (int i = 0; i < intBefore.length; i++) {
                intBefore[i] = r.intOutputs[i].clone();
            }
            checkEq(r.name, r.expected, r.call.getAsInt());
            boolean kept = true;
            for (int i = 0; i < before.length; i++) {
                kept &= Arrays.equals(before[i], r.outputs[i]);
            }
            for (int i = 0; i < intBefore.length; i++) {
                kept &= Arrays.equals(intBefore[i], r.intOutputs[i]);
            }
            check(r.name + ": outputs untouched", kept);
        }
    }

    // ========================= scenario "crypto" =========================

    long rsaPriv;
    long rsaPub;
    long ecPriv;
    long aes;
    long des3;
    RSAPublicKey rsaPublic;
    ECPublicKey ecPublic;
    byte[] aesValue;
    byte[] des3Value;

    void loginWithKeys() throws Exception {
        login();
        rsaPriv = Long.parseLong(env("QEL2_JNI_RSA_PRIV"));
        rsaPub = Long.parseLong(env("QEL2_JNI_RSA_PUB"));
        ecPriv = Long.parseLong(env("QEL2_JNI_EC_PRIV"));
        aes = Long.parseLong(env("QEL2_JNI_AES"));
        des3 = Long.parseLong(env("QEL2_JNI_DES3"));
        // Signatures are verified over the public keys the HSM exports, which
        // must be the keys the launcher made.
        rsaPublic = (RSAPublicKey) x509PublicKey("RSA", exportedPublicKey(rsaPub));
        ecPublic = (ECPublicKey) x509PublicKey("EC", exportedPublicKey(ecPriv));
        check("exported RSA public key is the launcher's",
              Arrays.equals(rsaPublic.getEncoded(), unhex(env("QEL2_JNI_RSA_SPKI"))));
        check("exported EC public key is the launcher's",
              Arrays.equals(ecPublic.getEncoded(), unhex(env("QEL2_JNI_EC_SPKI"))));
        aesValue = unhex(env("QEL2_JNI_AES_VALUE"));
        des3Value = unhex(env("QEL2_JNI_DES3_VALUE"));
    }

    void rsaSignatures() throws Exception {
        Object[][] mechs = {{6, "SHA1withRSA"}, {64, "SHA256withRSA"}, {65, "SHA384withRSA"},
                            {66, "SHA512withRSA"}, {70, "SHA224withRSA"}};
        byte[] msg = random(1000);
        for (Object[] m : mechs) {
            int mech = (Integer) m[0];
            byte[] sig = filled(300);  // longer than the signature: its length comes back
            int[] len = {0};
            String what = "rsaSign " + m[1];
            checkEq(what, 0, Signatures.rsaSign(session, mech, msg, rsaPriv, sig, len));
            checkEq(what + ": length", 256, len[0]);
            Signature v = Signature.getInstance((String) m[1]);
            v.initVerify(rsaPublic);
            v.update(msg);
            check(what + ": verified by the JDK", v.verify(Arrays.copyOf(sig, 256)));
            byte[] exact = Arrays.copyOf(sig, 256);
            checkEq(what + ": rsaVerify", 0, Signatures.rsaVerify(session, mech, msg, exact, rsaPub));
            byte[] other = msg.clone();
            other[7] ^= 1;
            check(what + ": rsaVerify of a changed message fails",
                  Signatures.rsaVerify(session, mech, other, exact, rsaPub) != 0);
        }
        // The HSM pads PSS itself for mechanism 67 (salt as long as the digest).
        byte[] sig = new byte[256];
        int[] len = {0};
        checkEq("rsaSign SHA-256 PSS", 0, Signatures.rsaSign(session, 67, msg, rsaPriv, sig, len));
        Signature v = Signature.getInstance("RSASSA-PSS");
        setPss(v, rsaPublic, "SHA-256", 32);
        v.initVerify(rsaPublic);
        v.update(msg);
        check("rsaSign SHA-256 PSS verified by the JDK", v.verify(sig));
    }

    void pssSignatures() throws Exception {
        Object[][] hashes = {{SHA1, "SHA-1"}, {SHA256, "SHA-256"}, {SHA384, "SHA-384"}, {SHA512, "SHA-512"},
                             {SHA224, "SHA-224"}};
        byte[] msg = random(333);
        for (Object[] h : hashes) {
            int type = (Integer) h[0];
            byte[] hash = digest(type, msg);
            for (int salt : new int[] {0, 17, hash.length}) {
                String what = "rsaSignPSS " + h[1] + " salt " + salt;
                byte[] sig = filled(256);
                checkEq(what, 0, Signatures.rsaSignPSS(session, rsaPriv, type, 256, hash, sig, salt));
                Signature v = Signature.getInstance("RSASSA-PSS");
                setPss(v, rsaPublic, (String) h[1], salt);
                v.initVerify(rsaPublic);
                v.update(msg);
                check(what + ": verified by the JDK", v.verify(sig));

                byte[] work = filled(256);
                checkEq(what + ": rsaVerifyPSS", 0,
                        Signatures.rsaVerifyPSS(session, rsaPub, type, 256, hash, sig, work, salt, 256));
                checkBytes(what + ": work array not written back", filled(256), work);
                byte[] other = hash.clone();
                other[0] ^= 1;
                checkEq(what + ": changed hash", ERR_BAD_PKCS_DATA,
                        Signatures.rsaVerifyPSS(session, rsaPub, type, 256, other, sig, work, salt, 256));
                if (salt > 0) {
                    checkEq(what + ": other salt length", ERR_BAD_PKCS_DATA,
                            Signatures.rsaVerifyPSS(session, rsaPub, type, 256, hash, sig, work, salt - 1, 256));
                }
            }
        }
        // Only the digest's bytes of a longer hash array are used.
        byte[] hash = digest(SHA256, msg);
        byte[] longHash = Arrays.copyOf(hash, 64);
        byte[] sig = new byte[256];
        checkEq("rsaSignPSS reads only the digest's bytes", 0,
                Signatures.rsaSignPSS(session, rsaPriv, SHA256, 256, longHash, sig, 32));
        checkEq("rsaVerifyPSS of it with the exact hash", 0,
                Signatures.rsaVerifyPSS(session, rsaPub, SHA256, 256, hash, sig, new byte[256], 32, 256));
    }

    void ecdsa() throws Exception {
        byte[] msg = random(500);
        byte[] hash = digest(SHA256, msg);
        for (int i = 0; i < 4; i++) {
            byte[] k = random(32);
            k[0] &= 0x7F;  // below the order
            byte[] r = filled(32), s = filled(32);
            checkEq("ecdsaSign", 0, Signatures.ecdsaSign(session, ecPriv, P256, hash, k, r, s));
            Signature v = Signature.getInstance("SHA256withECDSA");
            v.initVerify(ecPublic);
            v.update(msg);
            check("ecdsaSign verified by the JDK", v.verify(derSignature(r, s)));
            checkEq("ecdsaVerify", 0, Signatures.ecdsaVerify(session, ecPriv, P256, hash, r, s));
            byte[] other = hash.clone();
            other[31] ^= 1;
            check("ecdsaVerify of a changed hash fails",
                  Signatures.ecdsaVerify(session, ecPriv, P256, other, r, s) != 0);
        }
        // Through rsaSign with an ECDSA mechanism the HSM's r || s arrives as it is.
        byte[] rs = filled(72);
        int[] rsLen = {0};
        checkEq("rsaSign ECDSA with SHA-256", 0, Signatures.rsaSign(session, 4163, msg, ecPriv, rs, rsLen));
        checkEq("rsaSign ECDSA: r || s length", 64, rsLen[0]);
        Signature v = Signature.getInstance("SHA256withECDSA");
        v.initVerify(ecPublic);
        v.update(msg);
        check("rsaSign ECDSA r || s verified by the JDK", v.verify(derSignature(slice(rs, 0, 32), slice(rs, 32, 32))));
        byte[] x = filled(32), y = filled(32);
        checkEq("getECPublicPoint", 0, Util.getECPublicPoint(session, ecPriv, P256, x, y));
        checkBytes("public point x", fixed(ecPublic.getW().getAffineX(), 32), x);
        checkBytes("public point y", fixed(ecPublic.getW().getAffineY(), 32), y);
    }

    void ecdh() throws Exception {
        byte[] seed = new byte[20], p = new byte[32], gx = new byte[32], gy = new byte[32], a = new byte[32],
               b = new byte[32], n = new byte[32];
        checkEq("prime for ECDH", 0, Util.getECKeyDomainParameters(P256, seed, p, gx, gy, a, b, n, new int[1]));
        for (int i = 0; i < 3; i++) {
            KeyPair peer = ecGenerator("secp256r1").generateKeyPair();
            var w = ((ECPublicKey) peer.getPublic()).getW();
            byte[] outX = filled(32), outY = filled(32);
            checkEq("ecdhAgreement", 0,
                    Cryptography.ecdhAgreement(session, P256, p, fixed(w.getAffineX(), 32),
                                               fixed(w.getAffineY(), 32), ecPriv, outX, outY));
            KeyAgreement ka = KeyAgreement.getInstance("ECDH");
            ka.init(peer.getPrivate());
            ka.doPhase(ecPublic, true);
            checkBytes("ecdhAgreement equals KeyAgreement", ka.generateSecret(), outX);
        }
        // A peer point off the curve is refused by the HSM; the outputs stay.
        byte[] outX = filled(32), outY = filled(32);
        check("ecdhAgreement with a point off the curve fails",
              Cryptography.ecdhAgreement(session, P256, p, gx, fixed(new BigInteger(1, gy).add(BigInteger.ONE), 32),
                                         ecPriv, outX, outY) != 0);
        check("failed agreement leaves the outputs", Arrays.equals(filled(32), outX) && Arrays.equals(filled(32), outY));
    }

    Cipher jdk(String transformation, int mode, byte[] key, String alg, byte[] iv) throws Exception {
        Cipher c = Cipher.getInstance(transformation);
        SecretKey k = secretKey(key, alg);
        if (iv == null) {
            c.init(mode, k);
        } else {
            c.init(mode, k, ivParams(alg, iv));
        }
        return c;
    }

    void aesDes() throws Exception {
        // operation pairs, JDK transformation, key, IV length, block
        Object[][] modes = {
            {1, 2, "AES/CBC/NoPadding", "AES", 16, 16},
            {5, 6, "AES/ECB/NoPadding", "AES", 0, 16},
            {9, 10, "AES/CTR/NoPadding", "AES", 16, 1},
            {3, 4, "DESede/CBC/NoPadding", "DESede", 8, 8},
            {7, 8, "DESede/ECB/NoPadding", "DESede", 0, 8},
        };
        for (Object[] m : modes) {
            int enc = (Integer) m[0], dec = (Integer) m[1], ivLen = (Integer) m[4], block = (Integer) m[5];
            String alg = (String) m[3];
            long key = alg.equals("AES") ? aes : des3;
            byte[] value = alg.equals("AES") ? aesValue : des3Value;
            for (int len : new int[] {block, 64, 4096 + block}) {
                String what = m[2] + " of " + len + " bytes";
                byte[] plain = random(len);
                byte[] iv = ivLen == 0 ? null : random(ivLen);
                byte[] ivCopy = iv == null ? null : iv.clone();
                byte[] ct = filled(len);
                checkEq(what + ": encrypt", 0, Cryptography.processAESDES(session, plain, ct, iv, key, enc));
                byte[] want = jdk((String) m[2], Cipher.ENCRYPT_MODE, value, alg, iv).doFinal(plain);
                checkBytes(what + ": equals the JDK's", want, ct);
                check(what + ": IV unchanged", Arrays.equals(ivCopy, iv));
                byte[] back = filled(len);
                checkEq(what + ": decrypt", 0, Cryptography.processAESDES(session, ct, back, iv, key, dec));
                checkBytes(what + ": round trip", plain, back);
            }
        }
        // CBC encryption of a partial block writes whole blocks (zero-padded).
        byte[] plain = random(20);
        byte[] iv = random(16);
        byte[] ct = filled(32);
        checkEq("AES-CBC of 20 bytes", 0, Cryptography.processAESDES(session, plain, ct, iv, aes, 1));
        checkBytes("AES-CBC of 20 bytes equals the JDK's over the zero-padded block",
                   jdk("AES/CBC/NoPadding", Cipher.ENCRYPT_MODE, aesValue, "AES", iv).doFinal(Arrays.copyOf(plain, 32)),
                   ct);
        // CTR takes partial blocks as they are.
        plain = random(23);
        ct = filled(23);
        checkEq("AES-CTR of 23 bytes", 0, Cryptography.processAESDES(session, plain, ct, iv, aes, 9));
        checkBytes("AES-CTR of 23 bytes equals the JDK's",
                   jdk("AES/CTR/NoPadding", Cipher.ENCRYPT_MODE, aesValue, "AES", iv).doFinal(plain), ct);
        // ECB ignores an IV.
        plain = random(32);
        ct = filled(32);
        checkEq("AES-ECB with an IV", 0, Cryptography.processAESDES(session, plain, ct, random(16), aes, 5));
        checkBytes("AES-ECB with an IV is plain ECB",
                   jdk("AES/ECB/NoPadding", Cipher.ENCRYPT_MODE, aesValue, "AES", null).doFinal(plain), ct);
        // A refusal of the HSM (decryption of a partial block) leaves the output.
        byte[] out = filled(20);
        check("AES-CBC decryption of 20 bytes fails",
              Cryptography.processAESDES(session, random(20), out, iv, aes, 2) != 0);
        checkBytes("failed decryption leaves the output", filled(20), out);
    }

    void gcm() throws Exception {
        for (int tagLen : new int[] {16, 12}) {
            byte[] plain = random(40);
            byte[] aad = random(13);
            byte[] iv = random(12);
            byte[] ivBefore = iv.clone();
            byte[] ct = filled(40);
            byte[] tag = filled(tagLen);
            String what = "GCM with a " + tagLen + "-byte tag";
            checkEq(what + ": encrypt", 0,
                    Cryptography.processAESGCM(session, 1, plain, ct, null, aad, null, tag, iv, aes));
            Cipher c = Cipher.getInstance("AES/GCM/NoPadding");
            c.init(Cipher.ENCRYPT_MODE, secretKey(aesValue, "AES"), gcmParams(8 * tagLen, ivBefore));
            c.updateAAD(aad);
            byte[] want = c.doFinal(plain);
            checkBytes(what + ": ciphertext equals the JDK's", Arrays.copyOf(want, 40), ct);
            checkBytes(what + ": tag equals the JDK's", Arrays.copyOfRange(want, 40, 40 + tagLen), tag);
            checkBytes(what + ": 12-byte IV comes back as sent", ivBefore, iv);

            byte[] back = filled(40);
            checkEq(what + ": decrypt", 0,
                    Cryptography.processAESGCM(session, 2, ct, back, null, aad, tag, null, iv, aes));
            checkBytes(what + ": round trip", plain, back);
            byte[] badTag = tag.clone();
            badTag[0] ^= 1;
            byte[] kept = filled(40);
            check(what + ": changed tag fails",
                  Cryptography.processAESGCM(session, 2, ct, kept, null, aad, badTag, null, iv, aes) != 0);
            checkBytes(what + ": failed decryption leaves the output", filled(40), kept);
        }
        // A tag array of 20 bytes: the tag in bytes 0-15, the rest as it was.
        byte[] plain = random(33);
        byte[] iv = random(12);
        byte[] ct = new byte[33];
        byte[] tag20 = filled(20);
        checkEq("GCM into a 20-byte tag array", 0,
                Cryptography.processAESGCM(session, 1, plain, ct, null, null, null, tag20, iv, aes));
        Cipher c = Cipher.getInstance("AES/GCM/NoPadding");
        c.init(Cipher.ENCRYPT_MODE, secretKey(aesValue, "AES"), gcmParams(128, iv));
        byte[] want = c.doFinal(plain);
        checkBytes("20-byte tag array: the tag", Arrays.copyOfRange(want, 33, 49), Arrays.copyOf(tag20, 16));
        checkBytes("20-byte tag array: bytes 16-19 kept", filled(4), Arrays.copyOfRange(tag20, 16, 20));
        // No data: the AAD alone is authenticated (GMAC).
        byte[] gmacAad = random(20);
        byte[] gmacIv = random(12);
        byte[] gmacTag = filled(16);
        checkEq("GMAC", 0,
                Cryptography.processAESGCM(session, 1, null, new byte[0], null, gmacAad, null, gmacTag, gmacIv, aes));
        Cipher g = Cipher.getInstance("AES/GCM/NoPadding");
        g.init(Cipher.ENCRYPT_MODE, secretKey(aesValue, "AES"), gcmParams(128, gmacIv));
        g.updateAAD(gmacAad);
        checkBytes("GMAC tag equals the JDK's", g.doFinal(), gmacTag);
        checkEq("GMAC check", 0,
                Cryptography.processAESGCM(session, 2, null, new byte[0], null, gmacAad, gmacTag, null, gmacIv, aes));
        // A 16-byte Java IV is staged whole; it round-trips.
        byte[] iv16 = random(16);
        byte[] tag = new byte[16];
        checkEq("GCM with a 16-byte IV", 0,
                Cryptography.processAESGCM(session, 1, plain, ct, null, null, null, tag, iv16, aes));
        byte[] back = new byte[33];
        checkEq("GCM with a 16-byte IV: decrypt", 0,
                Cryptography.processAESGCM(session, 2, ct, back, null, null, tag, null, iv16, aes));
        checkBytes("GCM with a 16-byte IV: round trip", plain, back);
    }

    void aesWrap() throws Exception {
        for (int len : new int[] {16, 20, 31}) {
            byte[] data = random(len);
            // PKCS padding to whole 8-byte blocks (1 to 8 bytes), then RFC 3394.
            int pad = 8 - len % 8;
            byte[] padded = Arrays.copyOf(data, len + pad);
            Arrays.fill(padded, len, padded.length, (byte) pad);
            Cipher kw = Cipher.getInstance("AES/KW/NoPadding");
            kw.init(Cipher.ENCRYPT_MODE, secretKey(aesValue, "AES"));
            byte[] want = kw.doFinal(padded);
            byte[] out = filled(64);
            int[] outLen = {64};
            String what = "aesWrap of " + len + " bytes";
            checkEq(what, 0, Cryptography.aesWrap(session, aes, data, out, outLen));
            checkEq(what + ": length", want.length, outLen[0]);
            checkBytes(what + ": equals the JDK's AESWrap over the padded key", want, Arrays.copyOf(out, outLen[0]));

            byte[] small = filled(want.length - 1);
            int[] smallLen = {want.length - 1};
            checkEq(what + ": short buffer", ERR_BUFFER_TOO_SMALL,
                    Cryptography.aesWrap(session, aes, data, small, smallLen));
            checkEq(what + ": needed length", want.length, smallLen[0]);
            checkBytes(what + ": short buffer untouched", filled(want.length - 1), small);
            int[] queryLen = {0};
            checkEq(what + ": size query", ERR_BUFFER_TOO_SMALL, Cryptography.aesWrap(session, aes, data, null, queryLen));
            checkEq(what + ": size query length", want.length, queryLen[0]);
        }
    }

    void rsaCiphers() throws Exception {
        BigInteger n = rsaPublic.getModulus();
        BigInteger e = rsaPublic.getPublicExponent();
        // v1.5 block type 2: the JDK encrypts, the HSM decrypts (length in host order).
        for (int len : new int[] {1, 100, 245}) {
            byte[] plain = random(len);
            Cipher c = Cipher.getInstance("RSA/ECB/PKCS1Padding");
            c.init(Cipher.ENCRYPT_MODE, rsaPublic);
            byte[] ct = c.doFinal(plain);
            byte[] out = filled(256);
            int[] outLen = {0};
            String what = "pkcs1v15Dec of " + len + " bytes";
            checkEq(what, 0, Cryptography.pkcs1v15Dec(session, rsaPriv, 256, 1, ct, out, outLen));
            checkEq(what + ": length", len, outLen[0]);
            checkBytes(what + ": plaintext", plain, Arrays.copyOf(out, len));

            byte[] ct2 = filled(256);
            checkEq("pkcs1v15Enc BT2 of " + len + " bytes", 0,
                    Cryptography.pkcs1v15Enc(session, rsaPub, 256, 1, plain, ct2));
            int[] outLen2 = {0};
            checkEq("pkcs1v15Dec of the HSM's ciphertext", 0,
                    Cryptography.pkcs1v15Dec(session, rsaPriv, 256, 1, ct2, out, outLen2));
            checkBytes("pkcs1v15 BT2 round trip", plain, Arrays.copyOf(out, outLen2[0]));
        }
        // Block type 1 with the private key; the JDK recovers it with the public one.
        byte[] data = random(51);
        byte[] ct = filled(256);
        checkEq("pkcs1v15Enc BT1", 0, Cryptography.pkcs1v15Enc(session, rsaPriv, 256, 0, data, ct));
        Cipher c = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        c.init(Cipher.DECRYPT_MODE, rsaPublic);
        checkBytes("pkcs1v15Enc BT1 recovered by the JDK", data, c.doFinal(ct));
        byte[] out = filled(256);
        int[] outLen = {0};
        checkEq("pkcs1v15Dec BT1", 0, Cryptography.pkcs1v15Dec(session, rsaPub, 256, 0, ct, out, outLen));
        checkBytes("pkcs1v15Dec BT1 recovers the data", data, Arrays.copyOf(out, outLen[0]));

        // OAEP with SHA-256 (MGF1 of the same digest).
        Object[][] oaep = {{SHA1, "SHA-1"}, {SHA256, "SHA-256"}};
        for (Object[] h : oaep) {
            int type = (Integer) h[0];
            byte[] plain = random(60);
            Cipher o = Cipher.getInstance("RSA/ECB/OAEPPadding");
            o.init(Cipher.ENCRYPT_MODE, rsaPublic, oaepParams((String) h[1]));
            byte[] oct = o.doFinal(plain);
            byte[] pout = filled(256);
            int[] plen = {0};
            String what = "pkcs1v22Dec " + h[1];
            checkEq(what, 0, Cryptography.pkcs1v22Dec(session, rsaPriv, 256, type, oct, pout, plen));
            checkEq(what + ": length", 60, plen[0]);
            checkBytes(what + ": plaintext", plain, Arrays.copyOf(pout, 60));
            byte[] hct = filled(256);
            checkEq("pkcs1v22Enc " + h[1], 0, Cryptography.pkcs1v22Enc(session, rsaPub, 256, type, plain, hct));
            int[] plen2 = {0};
            checkEq("pkcs1v22Dec of the HSM's ciphertext", 0,
                    Cryptography.pkcs1v22Dec(session, rsaPriv, 256, type, hct, pout, plen2));
            checkBytes("pkcs1v22 round trip " + h[1], plain, Arrays.copyOf(pout, plen2[0]));
        }
        int[] untouched = filledInt(0x5A5A);
        byte[] pout = filled(256);
        check("pkcs1v22Dec of garbage fails",
              Cryptography.pkcs1v22Dec(session, rsaPriv, 256, SHA256, fixed(BigInteger.TEN, 256), pout, untouched) != 0);
        check("failed pkcs1v22Dec leaves its outputs", untouched[0] == 0x5A5A && Arrays.equals(filled(256), pout));

        // Raw exponentiation: x^d with the private key, back with the public one.
        BigInteger x = new BigInteger(1, random(200));
        byte[] y = filled(256);
        checkEq("modExpEnc", 0, Cryptography.modExpEnc(session, rsaPriv, 256, fixed(x, 200), y));
        checkEq("modExpEnc: y^e = x", 0, new BigInteger(1, y).modPow(e, n).compareTo(x));
        byte[] back = filled(256);
        checkEq("modExpDec with the public key", 0, Cryptography.modExpDec(session, rsaPub, 256, y, back));
        checkBytes("modExpDec recovers x", fixed(x, 256), back);
    }

    public static void main(String[] args) throws Exception {
        CryptoTest t = new CryptoTest();
        String scenario = args.length > 0 ? args[0] : "";
        switch (scenario) {
            case "crypto_host":
                t.rsaComponents();
                t.ecDomainParameters();
                t.pointOnCurve();
                t.refusals();
                break;
            case "crypto":
                t.loginWithKeys();
                t.rsaSignatures();
                t.pssSignatures();
                t.ecdsa();
                t.ecdh();
                t.aesDes();
                t.gcm();
                t.aesWrap();
                t.rsaCiphers();
                t.logout();
                break;
            default:
                check("known scenario '" + scenario + "'", false);
        }
        finish();
    }
}
