// Basic types and buffer sizes shared by the whole module.
#pragma once

#include <cstddef>
#include <cstdint>

// UTF-16 code unit of wide names. On Windows it is layout-compatible with wchar_t.
using WChar = char16_t;

constexpr int kPathSize = 1024;     // path buffers: 1023 characters and the terminator
constexpr int kLineSize = 4096;     // script lines and values
constexpr int kMessageSize = 256;   // numbered messages
constexpr int kPasswordSize = 128;  // passwords: 127 characters and the terminator

// Win32 error codes the portable code tells apart (the posix layer maps errno to them).
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorFilenameTooLong = 206;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorAlreadyExists = 183;

// Win32 attribute bits.
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrReparsePoint = 0x400;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
