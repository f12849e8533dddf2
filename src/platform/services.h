#pragma once
// The platform layers a window works with. The program uses the real ones; tests put
// doubles in the places they cannot drive (a person answering a box, a file system that
// refuses, a clock that should not really wait).

namespace platform {

class Prompter;
class FileSystem;
class Clock;
class Processes;
class SystemFolders;
class Registry;
class Modules;

struct Services
{
    Prompter *prompter;
    FileSystem *fileSystem;
    Clock *clock;
    Processes *processes;
    SystemFolders *folders;
    Registry *registry;
    Modules *modules;

    // The real layers of this machine.
    static Services Real();
};

} // namespace platform
