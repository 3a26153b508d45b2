// CPU test 4, "Encryption": the mean of three rates in bytes per second,
// each measured for a third of the test duration on 1 MiB of data:
// AES-128 in CFB mode (in place), SHA-256 (never finalised) and ECDSA
// verification over secp128r2 with SHA-256. The three rates go to the
// worker's encryption slots of the sync area; the runner sums them.

#include <cryptopp/aes.h>
#include <cryptopp/asn.h>
#include <cryptopp/eccrypto.h>
#include <cryptopp/ecp.h>
#include <cryptopp/integer.h>
#include <cryptopp/modes.h>
#include <cryptopp/oids.h>
#include <cryptopp/osrng.h>
#include <cryptopp/randpool.h>
#include <cryptopp/secblock.h>
#include <cryptopp/sha.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "cpu/cpu_tests.h"
#include "cpu/encryption_internal.h"
#include "state/clock_log.h"
#include "state/worker_sync_area.h"

namespace {

constexpr std::size_t kBufferBytes = 1048576;  // 1 MiB per phase
constexpr int kOperationsPerBatch = 10;        // clock read once per batch
constexpr std::int64_t kBatchBytes = kOperationsPerBatch * static_cast<std::int64_t>(kBufferBytes);
constexpr std::size_t kAesKeyBytes = 16;       // AES-128

// Every pool is seeded with 777 as a little-endian 16-bit integer. The pool
// also mixes the time into its output, so the data still differs from run to
// run; no figure depends on its values.
constexpr CryptoPP::byte kPoolSeed[2] = {0x09, 0x03};

// The signing key's private exponent. Fixed so that every run uses the same
// key pair; the figure depends only on the signature verifying.
constexpr long kPrivateExponent = 173;
// secp128r2 is arc 29 below the SEC 2 curve arc 1.3.132.0.
constexpr unsigned kSecp128r2Arc = 29;

constexpr int kAesSlot = 0;
constexpr int kShaSlot = 1;
constexpr int kEcdsaSlot = 2;

using Ecdsa = CryptoPP::ECDSA<CryptoPP::ECP, CryptoPP::SHA256>;

void seedPool(CryptoPP::RandomPool& pool) { pool.IncorporateEntropy(kPoolSeed, sizeof(kPoolSeed)); }

using encryption::encryptionCalls;

// Writes one sub-result; a worker index outside the area's 256 slots (which
// the runner never hands out) writes nothing rather than past the mapping.
void postRate(std::int32_t worker, int slot, double rate) {
    WorkerSyncArea area = currentWorkerSyncArea();
    if (area.valid() && worker >= 0 && worker < WorkerSyncArea::kMaxWorkers) {
        area.setEncryptionResult(worker, slot, rate);
    }
}

void logPhase(const char* label, std::int64_t bytes, double elapsedSeconds, double rate) {
    std::ostringstream line;
    line << label << bytes << " \\ " << elapsedSeconds << " \\ " << rate;
    debugLog(line.str());
}

std::int64_t deadlineAfter(std::int64_t start, double phaseNanoseconds) {
    return static_cast<std::int64_t>(static_cast<double>(start) + phaseNanoseconds);
}

double secondsBetween(std::int64_t start, std::int64_t end) {
    return static_cast<double>(end - start) / 1000000000.0;
}

// Runs one phase; a library exception or a failed allocation inside it is
// reported on standard error as one line tagged with the phase, and the phase
// then counts as 0 bytes per second with its slot left as it was.
template <typename Phase>
double guardedPhase(const char* tag, Phase&& phase) {
    std::string message;
    try {
        return phase();
    } catch (const CryptoPP::Exception& e) {
        message = std::string("DEBUG: [") + tag + "] Exception: " + e.what() + "\n";
    } catch (...) {
        message = std::string("DEBUG: [") + tag + "] Exception: Unknown\n";
    }
    std::cerr << message << std::flush;
    return 0.0;
}

double aesPhase(double phaseNanoseconds, std::int32_t worker) {
    CryptoPP::SecByteBlock key(kAesKeyBytes);
    CryptoPP::byte iv[CryptoPP::AES::BLOCKSIZE];
    CryptoPP::SecByteBlock buffer(kBufferBytes);
    const encryption::EncryptionCalls calls = encryptionCalls;
    {
        CryptoPP::RandomPool pool;
        seedPool(pool);
        calls.draw(pool, key, key.size());
        calls.draw(pool, iv, sizeof(iv));
        calls.draw(pool, buffer, buffer.size());
    }
    const std::unique_ptr<CryptoPP::StreamTransformation> cipher =
        calls.makeCipher(key, key.size(), iv);

    const std::int64_t start = calls.clock();
    const std::int64_t deadline = deadlineAfter(start, phaseNanoseconds);
    std::int64_t bytes = 0;
    std::int64_t now;
    do {
        // In place, with the feedback state running on: each pass encrypts
        // the previous pass's output.
        for (int i = 0; i < kOperationsPerBatch; ++i) calls.encrypt(*cipher, buffer, buffer.size());
        now = calls.clock();
        bytes += kBatchBytes;
    } while (now <= deadline);

    const double elapsed = secondsBetween(start, now);
    const double rate = static_cast<double>(bytes) / elapsed;
    postRate(worker, kAesSlot, rate);
    if (debugLogging) logPhase("AES Encrypted\\Elapsed\\Bps: ", bytes, elapsed, rate);
    return rate;
}

double shaPhase(double phaseNanoseconds, std::int32_t worker) {
    CryptoPP::SHA256 hash;
    CryptoPP::SecByteBlock buffer(kBufferBytes);
    const encryption::EncryptionCalls calls = encryptionCalls;
    {
        CryptoPP::RandomPool pool;
        seedPool(pool);
        calls.draw(pool, buffer, buffer.size());
    }

    const std::int64_t start = calls.clock();
    const std::int64_t deadline = deadlineAfter(start, phaseNanoseconds);
    std::int64_t bytes = 0;
    std::int64_t now;
    do {
        // One running hash; the digest is never finalised.
        for (int i = 0; i < kOperationsPerBatch; ++i) calls.hash(hash, buffer, buffer.size());
        now = calls.clock();
        bytes += kBatchBytes;
    } while (now <= deadline);

    const double elapsed = secondsBetween(start, now);
    const double rate = static_cast<double>(bytes) / elapsed;
    postRate(worker, kShaSlot, rate);
    if (debugLogging) logPhase("SHA256 Hashed\\Elapsed\\Bps: ", bytes, elapsed, rate);
    return rate;
}

// The signing key pair: the fixed private exponent on secp128r2.
void makeKeyPair(Ecdsa::Signer& signer, Ecdsa::Verifier& verifier) {
    Ecdsa::PrivateKey privateKey;
    Ecdsa::PublicKey publicKey;
    const CryptoPP::Integer exponent(kPrivateExponent);
    const CryptoPP::OID curve = CryptoPP::ASN1::certicom_ellipticCurve() + kSecp128r2Arc;
    const CryptoPP::DL_GroupParameters_EC<CryptoPP::ECP> group(curve);
    privateKey.AccessGroupParameters() = group;
    privateKey.SetPrivateExponent(exponent);
    privateKey.MakePublicKey(publicKey);
    signer.AccessKey().AssignFrom(privateKey);
    verifier.AccessKey().AssignFrom(publicKey);
}

double ecdsaPhase(double phaseNanoseconds, std::int32_t worker) {
    CryptoPP::SecByteBlock message(kBufferBytes);
    const encryption::EncryptionCalls calls = encryptionCalls;
    {
        CryptoPP::RandomPool pool;
        seedPool(pool);
        calls.draw(pool, message, message.size());
    }

    Ecdsa::Signer signer;
    Ecdsa::Verifier verifier;
    makeKeyPair(signer, verifier);

    // Signing is randomised: the one signature differs from run to run. It
    // is made before the clock starts and is not counted.
    CryptoPP::AutoSeededRandomPool signingRng(false, 32);
    CryptoPP::SecByteBlock signature(nullptr, signer.MaxSignatureLength());  // zeroed
    const std::size_t signatureLength =
        calls.sign(signer, signingRng, message, message.size(), signature);
    signature.resize(signatureLength);

    const std::int64_t start = calls.clock();
    const std::int64_t deadline = deadlineAfter(start, phaseNanoseconds);
    std::int64_t bytes = 0;
    std::int64_t verifications = 0;
    std::int32_t successes = 0;
    std::int64_t now;
    do {
        for (int i = 0; i < kOperationsPerBatch; ++i) {
            successes +=
                calls.verify(verifier, message, message.size(), signature, signature.size()) ? 1 : 0;
        }
        verifications += kOperationsPerBatch;
        bytes += kBatchBytes;
        now = calls.clock();
    } while (now <= deadline);

    // A verification that failed means the phase did not do the work it
    // claims: it then contributes nothing and leaves its slot alone.
    if (successes != verifications) return 0.0;

    const double elapsed = secondsBetween(start, now);
    const double rate = static_cast<double>(bytes) / elapsed;
    postRate(worker, kEcdsaSlot, rate);
    if (debugLogging) logPhase("ECDSA verified\\Elapsed\\Bps: ", bytes, elapsed, rate);
    return rate;
}

}  // namespace

namespace encryption {

EncryptionCalls defaultEncryptionCalls() {
    EncryptionCalls calls;
    calls.clock = nowNanoseconds;
    calls.draw = [](CryptoPP::RandomNumberGenerator& pool, CryptoPP::byte* block,
                    std::size_t bytes) { pool.GenerateBlock(block, bytes); };
    // Full-block (16-byte) feedback, the mode's default.
    calls.makeCipher = [](const CryptoPP::byte* key, std::size_t keyBytes, const CryptoPP::byte* iv)
        -> std::unique_ptr<CryptoPP::StreamTransformation> {
        return std::make_unique<CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption>(key, keyBytes, iv);
    };
    calls.encrypt = [](CryptoPP::StreamTransformation& cipher, CryptoPP::byte* buffer,
                       std::size_t bytes) { cipher.ProcessData(buffer, buffer, bytes); };
    calls.hash = [](CryptoPP::HashTransformation& hash, const CryptoPP::byte* buffer,
                    std::size_t bytes) { hash.Update(buffer, bytes); };
    calls.sign = [](const CryptoPP::PK_Signer& signer, CryptoPP::RandomNumberGenerator& rng,
                    const CryptoPP::byte* message, std::size_t bytes, CryptoPP::byte* signature) {
        return signer.SignMessage(rng, message, bytes, signature);
    };
    calls.verify = [](const CryptoPP::PK_Verifier& verifier, const CryptoPP::byte* message,
                      std::size_t bytes, const CryptoPP::byte* signature,
                      std::size_t signatureBytes) {
        return verifier.VerifyMessage(message, bytes, signature, signatureBytes);
    };
    return calls;
}

EncryptionCalls encryptionCalls = defaultEncryptionCalls();

}  // namespace encryption

void prepareEncryptionTest() {
    // One small round of every kind of work the phases do, on the same
    // classes: the library makes its one-time objects (its signature
    // algorithm and encoding singletons, the curve table, its bit bucket and
    // null generator) on first use.
    try {
        CryptoPP::byte block[CryptoPP::AES::BLOCKSIZE] = {};
        CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cipher(block, kAesKeyBytes, block);
        cipher.ProcessData(block, block, sizeof block);
        CryptoPP::SHA256 hash;
        hash.Update(block, sizeof block);

        Ecdsa::Signer signer;
        Ecdsa::Verifier verifier;
        makeKeyPair(signer, verifier);
        CryptoPP::AutoSeededRandomPool signingRng(false, 32);
        CryptoPP::SecByteBlock signature(signer.MaxSignatureLength());
        const std::size_t length = signer.SignMessage(signingRng, block, sizeof block, signature);
        verifier.VerifyMessage(block, sizeof block, signature, length);
    } catch (...) {
        // The workers meet the same failure and report it themselves.
    }
}

double EncryptionTest(std::int32_t seconds, std::int32_t workerIndex) {
    // Each phase gets a third of the duration; computed once for all three.
    const double phaseNanoseconds = static_cast<double>(seconds) / 3.0 * 1000000000.0;

    const double aesRate =
        guardedPhase("AES", [&] { return aesPhase(phaseNanoseconds, workerIndex); });
    const double shaRate =
        guardedPhase("SHA", [&] { return shaPhase(phaseNanoseconds, workerIndex); });
    const double ecdsaRate =
        guardedPhase("ECDSA", [&] { return ecdsaPhase(phaseNanoseconds, workerIndex); });

    return (aesRate + shaRate + ecdsaRate) / 3.0;
}
