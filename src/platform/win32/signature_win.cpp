#include "platform/signature.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace vanto::platform {
namespace {

// One move-only owner per CNG handle kind.
template <typename Handle, NTSTATUS(WINAPI* Close)(Handle)>
class CngHandle {
 public:
  CngHandle() = default;
  ~CngHandle() {
    if (handle_) Close(handle_);
  }
  CngHandle(CngHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  CngHandle& operator=(CngHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  CngHandle(const CngHandle&) = delete;
  CngHandle& operator=(const CngHandle&) = delete;

  Handle Get() const noexcept { return handle_; }
  Handle* Receive() noexcept { return &handle_; }  // for an empty owner only

 private:
  Handle handle_ = nullptr;
};

NTSTATUS WINAPI CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) {
  return BCryptCloseAlgorithmProvider(algorithm, 0);
}
using AlgorithmHandle = CngHandle<BCRYPT_ALG_HANDLE, CloseAlgorithm>;
using HashHandle = CngHandle<BCRYPT_HASH_HANDLE, BCryptDestroyHash>;
using KeyHandle = CngHandle<BCRYPT_KEY_HANDLE, BCryptDestroyKey>;

}  // namespace

struct Sha256::State {
  AlgorithmHandle algorithm;
  HashHandle hash;
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.failed = !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
                     state.algorithm.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
                 !BCRYPT_SUCCESS(BCryptCreateHash(state.algorithm.Get(), state.hash.Receive(),
                                                  nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::Add(std::span<const char> bytes) {
  // BCryptHashData counts in ULONG: a piece past 4 GiB goes in several calls.
  while (!state_->failed && !bytes.empty()) {
    const size_t count = std::min<size_t>(bytes.size(), ULONG_MAX);
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    state_->failed =
        !BCRYPT_SUCCESS(BCryptHashData(state_->hash.Get(), data, static_cast<ULONG>(count), 0));
    bytes = bytes.subspan(count);
  }
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  if (state_->failed || !BCRYPT_SUCCESS(BCryptFinishHash(state_->hash.Get(), digest.data(),
                                                         static_cast<ULONG>(digest.size()), 0))) {
    return std::nullopt;
  }
  return digest;
}

bool VerifyP256Sha256Digest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                            const P256Signature& signature) {
  if (publicKey[0] != 0x04) return false;
  AlgorithmHandle algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.Receive(), BCRYPT_ECDSA_P256_ALGORITHM,
                                                  nullptr, 0))) {
    return false;
  }
  // BCRYPT_ECCKEY_BLOB, then X and Y: the point without its leading 0x04.
  std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + 64> blob{};
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, publicKey.data() + 1, 64);
  KeyHandle key;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                          key.Receive(), blob.data(),
                                          static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  // CNG takes the signature as r || s, as it is; anything but plain success refuses it.
  Sha256Digest hashed = digest;
  P256Signature copy = signature;
  NTSTATUS status =
      BCryptVerifySignature(key.Get(), nullptr, hashed.data(), static_cast<ULONG>(hashed.size()),
                            copy.data(), static_cast<ULONG>(copy.size()), 0);
  return status == 0;
}

}  // namespace vanto::platform
