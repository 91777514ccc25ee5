# The vendor's public key for signed updates, checked and compiled in at configure time.
#
#   VANTO_UPDATE_PUBLIC_KEY   path of a PEM file with an ECDSA P-256 public key; empty (the
#                             default) builds a client that checks no signature.
#
# Provides the interface library `vanto_update_key`, whose include directory holds the generated
# "update_public_key.h". A key that cannot be read, is not P-256 or is not a point on the curve
# stops the configuration: a client built with a broken key would refuse every installer.

set(VANTO_UPDATE_PUBLIC_KEY "" CACHE FILEPATH
    "PEM file with the vendor's ECDSA P-256 public key for signed updates (empty: no signature check)")

# The DER SubjectPublicKeyInfo of a P-256 key, up to the uncompressed point: SEQUENCE,
# AlgorithmIdentifier { id-ecPublicKey, prime256v1 }, BIT STRING of 66 bytes, then 0x04.
set(_vanto_p256_spki_prefix "3059301306072a8648ce3d020106082a8648ce3d030107034200")

# Writes `header` for the key in `key_file` (empty: no key). Fails the configuration on a bad key.
function(vanto_update_key_header key_file header)
  if(key_file STREQUAL "")
    set(has_key false)
    set(key_bytes "0")
  else()
    if(NOT IS_ABSOLUTE "${key_file}")
      get_filename_component(key_file "${key_file}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    endif()
    if(NOT EXISTS "${key_file}" OR IS_DIRECTORY "${key_file}")
      message(FATAL_ERROR "VANTO_UPDATE_PUBLIC_KEY: cannot read the key file ${key_file}")
    endif()
    # A new key file at the same path reconfigures.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${key_file}")
    find_program(VANTO_OPENSSL_EXECUTABLE openssl)
    if(NOT VANTO_OPENSSL_EXECUTABLE)
      message(FATAL_ERROR "VANTO_UPDATE_PUBLIC_KEY needs the openssl command line to check the key")
    endif()

    execute_process(
      COMMAND "${VANTO_OPENSSL_EXECUTABLE}" pkey -pubin -in "${key_file}" -pubcheck -noout
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR
        "VANTO_UPDATE_PUBLIC_KEY: ${key_file} is not a valid public key (not on its curve, "
        "malformed or not a public key):\n${output}")
    endif()

    set(der_file "${CMAKE_CURRENT_BINARY_DIR}/vanto_update_public_key.der")
    execute_process(
      COMMAND "${VANTO_OPENSSL_EXECUTABLE}" ec -pubin -in "${key_file}" -outform DER
              -conv_form uncompressed -out "${der_file}"
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR
        "VANTO_UPDATE_PUBLIC_KEY: ${key_file} is not an elliptic-curve public key:\n${output}")
    endif()
    file(READ "${der_file}" der HEX)
    file(REMOVE "${der_file}")
    string(LENGTH "${der}" der_length)
    string(SUBSTRING "${der}" 0 52 prefix)
    if(NOT der_length EQUAL 182 OR NOT prefix STREQUAL _vanto_p256_spki_prefix)
      message(FATAL_ERROR
        "VANTO_UPDATE_PUBLIC_KEY: ${key_file} is not an ECDSA P-256 (prime256v1) public key")
    endif()
    string(SUBSTRING "${der}" 52 2 point_form)
    if(NOT point_form STREQUAL "04")
      message(FATAL_ERROR "VANTO_UPDATE_PUBLIC_KEY: ${key_file}: no uncompressed point")
    endif()

    set(has_key true)
    string(SUBSTRING "${der}" 52 130 point)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," key_bytes "${point}")
    string(REGEX REPLACE ",$" "" key_bytes "${key_bytes}")
    string(REGEX REPLACE "((0x..,){16})" "\\1\n    " key_bytes "${key_bytes}")
  endif()

  file(CONFIGURE OUTPUT "${header}" @ONLY CONTENT
"// Generated at configure time from VANTO_UPDATE_PUBLIC_KEY; do not edit.
#pragma once

#include <array>
#include <cstdint>

namespace vanto::update {

inline constexpr bool kHasUpdatePublicKey = @has_key@;
// The uncompressed point 0x04 || X || Y.
inline constexpr std::array<std::uint8_t, 65> kUpdatePublicKey = {
    @key_bytes@};

}  // namespace vanto::update
")
endfunction()

set(_vanto_update_key_dir "${CMAKE_BINARY_DIR}/generated/update_key")
vanto_update_key_header("${VANTO_UPDATE_PUBLIC_KEY}" "${_vanto_update_key_dir}/update_public_key.h")
if(NOT TARGET vanto_update_key)
  add_library(vanto_update_key INTERFACE)
  target_include_directories(vanto_update_key INTERFACE "${_vanto_update_key_dir}")
endif()
if(NOT VANTO_UPDATE_PUBLIC_KEY STREQUAL "")
  message(STATUS "Signed updates: the key of ${VANTO_UPDATE_PUBLIC_KEY} is built in")
endif()
