#include "platform/signature.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/win32/system_library.h"

namespace vanto::platform {
namespace {

// bcrypt.dll is no KnownDLL: its functions are looked up in the copy of the system folder, so
// that none planted beside the exe is loaded. Each user holds its own reference.
struct Cng {
  SystemLibrary library{L"bcrypt.dll"};
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithm =
      library.Find<decltype(openAlgorithm)>("BCryptOpenAlgorithmProvider");
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm =
      library.Find<decltype(closeAlgorithm)>("BCryptCloseAlgorithmProvider");
  decltype(&BCryptCreateHash) createHash = library.Find<decltype(createHash)>("BCryptCreateHash");
  decltype(&BCryptHashData) hashData = library.Find<decltype(hashData)>("BCryptHashData");
  decltype(&BCryptFinishHash) finishHash = library.Find<decltype(finishHash)>("BCryptFinishHash");
  decltype(&BCryptDestroyHash) destroyHash =
      library.Find<decltype(destroyHash)>("BCryptDestroyHash");
  decltype(&BCryptImportKeyPair) importKeyPair =
      library.Find<decltype(importKeyPair)>("BCryptImportKeyPair");
  decltype(&BCryptDestroyKey) destroyKey = library.Find<decltype(destroyKey)>("BCryptDestroyKey");
  decltype(&BCryptVerifySignature) verifySignature =
      library.Find<decltype(verifySignature)>("BCryptVerifySignature");

  bool Loaded() const noexcept {
    return openAlgorithm && closeAlgorithm && createHash && hashData && finishHash && destroyHash &&
           importKeyPair && destroyKey && verifySignature;
  }
};

// One move-only owner per CNG handle kind; the close function comes from the loaded library,
// which outlives the handle. `Flags` are the close function's arguments after the handle, zero.
template <typename Handle, typename... Flags>
class CngHandle {
 public:
  using Close = NTSTATUS(WINAPI*)(Handle, Flags...);
  explicit CngHandle(Close close) noexcept : close_(close) {}
  ~CngHandle() {
    if (handle_) close_(handle_, Flags{}...);
  }
  CngHandle(CngHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), close_(other.close_) {}
  CngHandle& operator=(CngHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(close_, other.close_);
    return *this;
  }
  CngHandle(const CngHandle&) = delete;
  CngHandle& operator=(const CngHandle&) = delete;

  Handle Get() const noexcept { return handle_; }
  Handle* Receive() noexcept { return &handle_; }  // for an empty owner only

 private:
  Handle handle_ = nullptr;
  Close close_;
};

using AlgorithmHandle = CngHandle<BCRYPT_ALG_HANDLE, ULONG>;
using HashHandle = CngHandle<BCRYPT_HASH_HANDLE>;
using KeyHandle = CngHandle<BCRYPT_KEY_HANDLE>;

}  // namespace

struct Sha256::State {
  Cng cng;  // first: the handles are closed before the library goes
  AlgorithmHandle algorithm{cng.closeAlgorithm};
  HashHandle hash{cng.destroyHash};
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  State& state = *state_;
  const Cng& cng = state.cng;
  state.failed = !cng.Loaded() ||
                 !BCRYPT_SUCCESS(cng.openAlgorithm(state.algorithm.Receive(),
                                                   BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
                 !BCRYPT_SUCCESS(cng.createHash(state.algorithm.Get(), state.hash.Receive(),
                                                nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::Add(std::span<const char> bytes) {
  // BCryptHashData counts in ULONG: a piece past 4 GiB goes in several calls.
  while (!state_->failed && !bytes.empty()) {
    const size_t count = std::min<size_t>(bytes.size(), ULONG_MAX);
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    state_->failed = !BCRYPT_SUCCESS(
        state_->cng.hashData(state_->hash.Get(), data, static_cast<ULONG>(count), 0));
    bytes = bytes.subspan(count);
  }
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  if (state_->failed ||
      !BCRYPT_SUCCESS(state_->cng.finishHash(state_->hash.Get(), digest.data(),
                                             static_cast<ULONG>(digest.size()), 0))) {
    return std::nullopt;
  }
  return digest;
}

bool VerifyP256Sha256Digest(const P256PublicKey& publicKey, const Sha256Digest& digest,
                            const P256Signature& signature) {
  if (publicKey[0] != 0x04) return false;
  const Cng cng;
  if (!cng.Loaded()) return false;
  AlgorithmHandle algorithm{cng.closeAlgorithm};
  if (!BCRYPT_SUCCESS(
          cng.openAlgorithm(algorithm.Receive(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  // BCRYPT_ECCKEY_BLOB, then X and Y: the point without its leading 0x04.
  std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + 64> blob{};
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, publicKey.data() + 1, 64);
  KeyHandle key{cng.destroyKey};
  if (!BCRYPT_SUCCESS(cng.importKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                        key.Receive(), blob.data(), static_cast<ULONG>(blob.size()),
                                        0))) {
    return false;
  }
  // CNG takes the signature as r || s, as it is; anything but plain success refuses it.
  Sha256Digest hashed = digest;
  P256Signature copy = signature;
  NTSTATUS status =
      cng.verifySignature(key.Get(), nullptr, hashed.data(), static_cast<ULONG>(hashed.size()),
                          copy.data(), static_cast<ULONG>(copy.size()), 0);
  return status == 0;
}

}  // namespace vanto::platform
