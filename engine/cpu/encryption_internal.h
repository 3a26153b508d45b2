#pragma once

// Pieces of the encryption test shared with its unit tests.

#include <cryptopp/cryptlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace encryption {

// Everything the three phases call besides their own bookkeeping, as
// pointers so that a test can count the work, feed the clock or make a call
// fail. The product never changes them; each holds the real call. One call
// of encrypt, hash or verify is one operation on the whole 1 MiB buffer, so
// going through a pointer costs nothing next to it.
struct EncryptionCalls {
    std::int64_t (*clock)();  // nowNanoseconds
    // Test data: GenerateBlock of the phase's seeded pool.
    void (*draw)(CryptoPP::RandomNumberGenerator& pool, CryptoPP::byte* block, std::size_t bytes);
    // The AES-128 encryption in CFB mode with full-block feedback, keyed.
    std::unique_ptr<CryptoPP::StreamTransformation> (*makeCipher)(const CryptoPP::byte* key,
                                                                   std::size_t keyBytes,
                                                                   const CryptoPP::byte* iv);
    // ProcessData in place: output = input = buffer.
    void (*encrypt)(CryptoPP::StreamTransformation& cipher, CryptoPP::byte* buffer,
                    std::size_t bytes);
    // Update of the running hash.
    void (*hash)(CryptoPP::HashTransformation& hash, const CryptoPP::byte* buffer,
                 std::size_t bytes);
    // SignMessage; returns the signature's length.
    std::size_t (*sign)(const CryptoPP::PK_Signer& signer, CryptoPP::RandomNumberGenerator& rng,
                        const CryptoPP::byte* message, std::size_t bytes,
                        CryptoPP::byte* signature);
    // VerifyMessage of the whole message against the one signature.
    bool (*verify)(const CryptoPP::PK_Verifier& verifier, const CryptoPP::byte* message,
                   std::size_t bytes, const CryptoPP::byte* signature, std::size_t signatureBytes);
};
extern EncryptionCalls encryptionCalls;
EncryptionCalls defaultEncryptionCalls();

}  // namespace encryption
