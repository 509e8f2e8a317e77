// The program's entry: options, the installed counter, banner, dispatch and exit codes.
#include "app/startup.h"

#include <cstdlib>
#include <cstring>

#include "app/deinstall.h"
#include "app/install.h"
#include "app/state_file.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace {

constexpr int kExitInitFailed = -1;
constexpr int kExitDeinstalled = 1;
constexpr int kExitNotDeinstalled = 2;
constexpr int kExitInstalled = 3;
constexpr int kExitNotInstalled = 4;
constexpr int kExitStatusShown = 5;

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// An argument names an option when everything after its first character is the letter.
bool IsOption(const char* argument, char letter) {
    return argument && argument[0] != '\0' && argument[1] != '\0' && argument[2] == '\0' &&
           LowerAscii(argument[1]) == LowerAscii(letter);
}

enum class MissionStatus { notInstalled, installed, unknown };

// Reads the installed counter and writes it back, so the state file exists after every run. A
// state file that exists but cannot be read or parsed tells nothing: taken for "not installed",
// it let a second install delete the backup of the game's originals.
MissionStatus ReadInstalledState() {
    const StateFile stateFile = StateFile::OfThisProgram();
    if (stateFile.IsUnreadable())
        return MissionStatus::unknown;
    const std::string installed = stateFile.ReadCounterText();
    stateFile.WriteCounterText(installed);
    return StateFile::ParseCounter(installed) != 0 ? MissionStatus::installed
                                                   : MissionStatus::notInstalled;
}

// Refuses an operation that needs the state file; exitCode says which one was refused.
int RefuseUnreadableStateFile(int exitCode) {
    platform::Printf(
        "Error: the state file '%s' cannot be read (a folder, a locked or damaged "
        "file?);\nnothing was changed.\n",
        platform::DisplayPath(StateFile::OfThisProgram().Path()).c_str());
    return exitCode;
}

int Deinstall(bool keepFolders, const MissionOperations& operations) {
    if (operations.deinstall("", keepFolders))
        return kExitDeinstalled;
    platform::Print("Mission Deinstall FAILED. This may happen because of hanged Thief Game\n");
    platform::Print("(some files are locked).\n");
    platform::Print("Please restart your computer and repeat deinstall process.\n");
    return kExitNotDeinstalled;
}

int RefuseDeinstall() {
    platform::Print("Mission was already deinstalled. If you need to repeat deinstallation,\n");
    platform::Print("please do the following:\n");
    platform::Print("- make sure that the program has the same name as INI and Backup (*.Zip,\n");
    platform::Print("    *.Taff) files. Rename it if needed;\n");
    platform::Print("- in INI File, change \"Installed=0\" string to \"Installed=1\";\n");
    platform::Print("- if there is no Backup Zip file, change the Backup file extension from\n");
    platform::Print("    *.Taff to *.Zip;\n");
    platform::Print("- run the program with \"-d\" key.\n");
    return kExitNotDeinstalled;
}

int RefuseInstall() {
    platform::Print("Mission was already installed. If it is a localization or other misson\n");
    platform::Print("mod, please rename the program and re-run installation. Remember to\n");
    platform::Print("deinstall missions in reversed order (first mod, then mission).\n");
    return kExitNotInstalled;
}

int Install(const std::string& source, bool sourceIsFolder, const MissionOperations& operations) {
    if (operations.install(source, sourceIsFolder))
        return kExitInstalled;
    platform::Print("Mission Install FAILED. This may happen because of hanged Thief Game\n");
    platform::Print("(some files are locked).\n");
    platform::Print("Please restart your computer, deinstall this mission and install it again.\n");
    return kExitNotInstalled;
}

}  // namespace

int FindOption(char letter, char** argv, int argc) {
    for (int i = 0; i < argc; ++i) {
        // A match at position 0 (the program's own name) gives 0: the option counts as absent.
        if (IsOption(argv[i], letter))
            return i;
    }
    return 0;
}

void PrintBanner() {
    platform::Print("BrennickConsole v1.6 (c) the Brennick developers, free for Thief fans.\n");
}

void PrintUsage() {
    platform::Print("USAGE:\n");
    platform::Print("  Brennick.Exe             Display this information and mission status.\n");
    platform::Print("  Brennick.Exe <ZIPName>   Install new mission.\n");
    platform::Print("  Brennick.Exe -d          Remove installed mission.\n");
    platform::Print("\n");
    platform::Print("  Some useful keys:\n");
    platform::Print("    -a    :    Automatic mode (auto close program after all complete).\n");
    platform::Print(
        "    -f    :    Reinterpret <ZIPName> as folder path when installing mission.\n");
    platform::Print("    -n    :    Do not delete empty folders during mission uninstall.\n");
    platform::Print("\n");
    platform::Print(".BAT files ErrorLevel values:\n");
    platform::Print("  -1 : Fatal error in loading program.\n");
    platform::Print("  0  : No action was performed, maybe invalid arguments.\n");
    platform::Print("  1  : Current mission deinstalled successfully.\n");
    platform::Print("  2  : Current mission was not deinstalled.\n");
    platform::Print("  3  : Current mission installed successfully.\n");
    platform::Print("  4  : Current mission was not installed.\n");
    platform::Print("  5  : Help & mission status was displayed.\n");
}

int StartUp(int argc, char** argv, const MissionOperations& operations) {
    const bool deinstall = FindOption('d', argv, argc) != 0;
    const bool automatic = FindOption('a', argv, argc) != 0;
    const bool sourceIsFolder = FindOption('f', argv, argc) != 0;
    const bool keepFolders = FindOption('n', argv, argc) != 0;

    int exitCode;
    if (!platform::InitApplication(argc, argv)) {
        platform::Print("FATAL ERROR: MFC initialization failed!\n");
        exitCode = kExitInitFailed;
    } else {
        const MissionStatus status = ReadInstalledState();
        const bool installed = status == MissionStatus::installed;
        PrintBanner();
        // An empty argument vector (possible on Linux) counts as no arguments: there is no
        // first argument to install from.
        if (argc <= 1) {
            PrintUsage();
            platform::Printf("\nCurrent mission status: %s.\n",
                             status == MissionStatus::unknown
                                 ? "UNKNOWN (the state file cannot be read)"
                             : installed ? "INSTALLED"
                                         : "NOT INSTALLED");
            exitCode = kExitStatusShown;
        } else if (status == MissionStatus::unknown) {
            exitCode =
                RefuseUnreadableStateFile(deinstall ? kExitNotDeinstalled : kExitNotInstalled);
        } else if (deinstall) {
            exitCode = installed ? Deinstall(keepFolders, operations) : RefuseDeinstall();
        } else {
            exitCode = installed ? RefuseInstall() : Install(argv[1], sourceIsFolder, operations);
        }
    }
    if (!automatic) {
        platform::Print("\nPress Any Key To Exit...\n");
        platform::WaitForKey();
    }
    return exitCode;
}

int StartUp(int argc, char** argv) {
    return StartUp(argc, argv, MissionOperations{InstallMission, DeinstallMission});
}
