// The Windows half of the key files' check: what a file's access control list lets others do,
// on security descriptors written as SDDL, and the warning with its icacls command.
#include "text/private_files.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The owner: an ordinary account of a domain.
#define USER "S-1-5-21-1004336348-1177238915-682003330-1001"

TEST(PrivateFilesWindows, OnlyOwnerSystemAndAdministratorsMayHoldTheKeys) {
  struct Case {
    const char* sddl;
    bool readable, writable;
  } cases[] = {
      {"O:" USER "D:P(A;;FA;;;" USER ")(A;;FA;;;SY)(A;;FA;;;BA)", false, false},  // what icacls leaves
      {"O:" USER "D:(A;OICI;FA;;;" USER ")(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true, false},  // Users read
      {"O:" USER "D:(A;;FA;;;" USER ")(A;;FR;;;WD)", true, false},                  // Everyone read
      {"O:" USER "D:(A;;FA;;;" USER ")(A;;0x1301bf;;;AU)", true, true},             // Authenticated Users modify
      {"O:" USER "D:(A;;FA;;;" USER ")(A;;FW;;;WD)", false, true},                  // write, no read
      {"O:" USER "D:(A;;FA;;;" USER ")(A;;GR;;;BU)", true, false},                  // generic read
      {"O:" USER "D:(A;;FA;;;" USER ")(A;;GA;;;BU)", true, true},                   // generic all
      {"O:" USER "D:(A;;FA;;;" USER ")(A;;WD;;;BU)", false, true},                  // may change the list
      {"O:" USER "D:(A;;FA;;;" USER ")(A;OICIIO;FA;;;WD)", false, false},           // for children only
      {"O:" USER "D:(D;;FR;;;WD)(A;;FA;;;" USER ")(A;;FR;;;BU)", false, false},     // Everyone denied first
      {"O:" USER "D:(D;;FR;;;BU)(A;;FR;;;BU)(A;;FR;;;S-1-5-21-1-2-3-1002)", true, false},  // another account
      {"O:BA" "D:(A;;FA;;;BA)(A;;FA;;;SY)", false, false},                          // made by an administrator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sddl);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1, &descriptor, nullptr));
    const OthersAccess access = othersAccess(descriptor);
    LocalFree(descriptor);
    EXPECT_EQ(access.readable, c.readable);
    EXPECT_EQ(access.writable, c.writable);
  }
  // No list at all (a NULL DACL) lets everyone do everything. Built by hand: Wine's SDDL parser
  // makes an empty list of "D:NO_ACCESS_CONTROL".
  SECURITY_DESCRIPTOR open{};
  ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  const OthersAccess access = othersAccess(&open);
  EXPECT_TRUE(access.readable);
  EXPECT_TRUE(access.writable);
}

TEST(PrivateFilesWindows, TheWarningNamesTheIcaclsCommand) {
  const ExposedFile file{"meterKeys", true, true, false};
  char line[200];
  const char* expected =
      "Warning: meterKeys is readable by other users; run icacls \"meterKeys\" /inheritance:r /grant:r "
      "\"%USERNAME%\":(OI)(CI)F.\n";
  EXPECT_EQ(exposedFileWarning(file, line, sizeof line), std::strlen(expected));
  EXPECT_STREQ(line, expected);
  char remedy[80];
  privateFileRemedy("Quarnconfig.txt", false, remedy, sizeof remedy);
  EXPECT_STREQ(remedy, "icacls \"Quarnconfig.txt\" /inheritance:r /grant:r \"%USERNAME%\":F");
}

// Wine gives a file the list its mode bits imply: the check reads it as on Windows.
TEST(PrivateFilesWindows, FindsAFileAndSkipsAMissingOne) {
  char folder[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
  const std::string path = std::string(folder) + "quarn-private-win-test.txt";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  // Everyone may read it: the list says so.
  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;OW)(A;;FR;;;WD)", SDDL_REVISION_1, &open,
                                                                   nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(open, &present, &dacl, &defaulted));
  const DWORD set = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, dacl, nullptr);
  LocalFree(open);
  const std::string missing = std::string(folder) + "quarn-private-win-none.txt";
  const char* names[] = {missing.c_str(), path.c_str()};
  ExposedFile found[2] = {};
  const size_t count = findExposedFiles(names, 2, found, 2);
  DeleteFileA(path.c_str());
  ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(found[0].name, names[1]);
  EXPECT_FALSE(found[0].isDirectory);
  EXPECT_TRUE(found[0].readable);
}

}  // namespace
