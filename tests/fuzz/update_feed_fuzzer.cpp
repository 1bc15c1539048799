// The update feed parser and its signature check, with a fixed publisher key
// (the seed corpus holds feeds it signed): whatever decodes encodes and
// decodes again to the same release message, and only feeds that really
// verify are accepted as signed.
#include "distribution/update_feed.h"

#include <sodium.h>

#include <cstdlib>

using namespace quellora;

namespace {

// The key pair the seed feeds were signed with: derived from 32 zero bytes.
const Ed25519PublicKey& publicKey() {
    static const Ed25519PublicKey key = [] {
        if (sodium_init() < 0) {
            std::abort();
        }
        Ed25519PublicKey publicKey{};
        Ed25519SecretKey secretKey{};
        const unsigned char seed[crypto_sign_SEEDBYTES] = {};
        crypto_sign_seed_keypair(publicKey.data(), secretKey.data(), seed);
        return publicKey;
    }();
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    UpdateFeed feed;
    try {
        feed = decodeUpdateFeed(text);
    } catch (const UpdateFeedError&) {
        return 0;
    }
    if (!isHttpsUrl(feed.url) || feed.size == 0 || feed.size > UpdateFeed::maxPackageBytes) {
        std::abort();
    }
    const auto again = decodeUpdateFeed(encodeUpdateFeed(feed));
    if (releaseMessage(again) != releaseMessage(feed)) {
        std::abort();
    }
    bool verifies = true;
    try {
        decodeSignedUpdateFeed(text, publicKey());
    } catch (const UpdateFeedError&) {
        verifies = false;
    }
    const auto message = releaseMessage(feed);
    const bool signatureHolds =
        crypto_sign_verify_detached(feed.releaseSignature.data(),
                                    reinterpret_cast<const unsigned char*>(message.data()),
                                    message.size(), publicKey().data()) == 0;
    if (verifies != signatureHolds) {
        std::abort();
    }
    return 0;
}
