// The program's entry: binds the stages to the real Windows services and runs the main flow.
// The command line is not looked at.
#include "app/main_flow.h"
#include "app/process_state.h"
#include "remedy/file_scan.h"
#include "remedy/win32_services.h"

int main() {
  remedy::Win32FileSystem files;
  remedy::Win32Processes processes;
  remedy::Win32Registry registry;
  remedy::Win32Console console;
  remedy::Win32Privileges privileges;
  remedy::Win32Clock clock;
  remedy::Services services{files, processes, registry, console, privileges, clock};
  remedy::Context context{services, app::ProcessEngine(), app::ProcessResults(),
                          app::ProcessStageState(), &remedy::ScanFileInContext};
  return app::RunMainFlow(context, app::DefaultStages());
}
