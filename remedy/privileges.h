// Privileges: the token privileges the program asks for.
// Win32Privileges (privileges_win.cc) adjusts the process token; tests use FakeMachine.
#pragma once

namespace remedy {

class Privileges {
 public:
  virtual ~Privileges() = default;
  // Enables "SeDebugPrivilege" in the process token; true when the adjustment call succeeded.
  // Callers ignore the result: without the privilege some processes simply cannot be opened.
  virtual bool EnableDebugPrivilege() = 0;
};

}  // namespace remedy
