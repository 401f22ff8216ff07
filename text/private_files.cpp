// Files that hold keys must stay the user's own: which of them other users can read or change.
#include "text/private_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace {

// What snprintf's result leaves in dest: the text's length, cut to the buffer; 0 on failure.
size_t writtenLength(int length, char* dest, size_t capacity) {
  if (length < 0) {
    dest[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
}

}  // namespace

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <aclapi.h>

namespace {

constexpr ACCESS_MASK readRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
constexpr ACCESS_MASK writeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
constexpr int deniedMax = 16;  // deny ACEs remembered; more are rare and then count for nothing

struct Denied {
  PSID sid;
  ACCESS_MASK mask;
};

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

// The owner, SYSTEM and the Administrators may hold the keys.
bool isTrusted(PSID sid, PSID owner) {
  return (owner != nullptr && EqualSid(sid, owner)) || isWellKnown(sid, WinLocalSystemSid) ||
         isWellKnown(sid, WinBuiltinAdministratorsSid);
}

ACCESS_MASK deniedTo(PSID sid, const Denied* denied, int count) {
  ACCESS_MASK mask = 0;
  for (int i = 0; i < count; ++i)
    if (EqualSid(denied[i].sid, sid) || isWellKnown(denied[i].sid, WinWorldSid)) mask |= denied[i].mask;
  return mask;
}

}  // namespace

OthersAccess othersAccess(const void* securityDescriptor) {
  PSECURITY_DESCRIPTOR descriptor = const_cast<void*>(securityDescriptor);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return OthersAccess{true, true};
  if (!present || dacl == nullptr) return OthersAccess{true, true};  // no list: no limit
  PSID owner = nullptr;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) owner = nullptr;
  Denied denied[deniedMax];
  int deniedCount = 0;
  OthersAccess access{false, false};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;  // for children only
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      ACCESS_DENIED_ACE* deny = static_cast<ACCESS_DENIED_ACE*>(entry);
      if (deniedCount < deniedMax) denied[deniedCount++] = Denied{&deny->SidStart, deny->Mask};
      continue;
    }
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    ACCESS_ALLOWED_ACE* allow = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = &allow->SidStart;
    if (isTrusted(sid, owner)) continue;
    const ACCESS_MASK mask = allow->Mask & ~deniedTo(sid, denied, deniedCount);
    access.readable = access.readable || (mask & readRights) != 0;
    access.writable = access.writable || (mask & writeRights) != 0;
  }
  return access;
}

size_t findExposedFiles(const char* const* names, size_t count, ExposedFile* found,
                        size_t capacity) {
  size_t findings = 0;
  for (size_t i = 0; i < count && findings < capacity; ++i) {
    if (names[i] == nullptr) continue;
    const DWORD attributes = GetFileAttributesA(names[i]);
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(names[i], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
      continue;  // unreadable as missing: nothing to say about it
    }
    const OthersAccess access = othersAccess(descriptor);
    LocalFree(descriptor);
    if (!access.readable && !access.writable) continue;
    found[findings++] =
        ExposedFile{names[i], (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, access.readable, access.writable};
  }
  return findings;
}

size_t privateFileRemedy(const char* name, bool isDirectory, char* dest, size_t capacity) {
  if (dest == nullptr || capacity == 0) return 0;
  // Inherited entries go, and the user alone is given full control (of what a folder holds too).
  const int length = std::snprintf(dest, capacity, "icacls \"%s\" /inheritance:r /grant:r \"%%USERNAME%%\":%s", name,
                                   isDirectory ? "(OI)(CI)F" : "F");
  return writtenLength(length, dest, capacity);
}
#else
size_t findExposedFiles(const char* const* names, size_t count, ExposedFile* found,
                        size_t capacity) {
  size_t findings = 0;
  for (size_t i = 0; i < count && findings < capacity; ++i) {
    struct stat info {};
    if (names[i] == nullptr || stat(names[i], &info) != 0) continue;
    const bool readable = (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
    const bool writable = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (!readable && !writable) continue;
    found[findings++] = ExposedFile{names[i], S_ISDIR(info.st_mode), readable, writable};
  }
  return findings;
}

size_t privateFileRemedy(const char* name, bool isDirectory, char* dest, size_t capacity) {
  if (dest == nullptr || capacity == 0) return 0;
  const int length = std::snprintf(dest, capacity, "chmod %s %s", isDirectory ? "700" : "600", name);
  return writtenLength(length, dest, capacity);
}
#endif

size_t exposedFileWarning(const ExposedFile& file, char* dest, size_t capacity) {
  if (dest == nullptr || capacity == 0) return 0;
  const char* access = file.readable && file.writable ? "readable and writable"
                       : file.readable                ? "readable"
                                                      : "writable";
  char remedy[400];
  privateFileRemedy(file.name, file.isDirectory, remedy, sizeof remedy);
  const int length = std::snprintf(dest, capacity, "Warning: %s is %s by other users; run %s.\n", file.name, access,
                                   remedy);
  return writtenLength(length, dest, capacity);
}
