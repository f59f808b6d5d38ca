#pragma once

// Writes "core.dmp" in the working directory when the process faults
// (on any thread) and ends the process without any dialog.
class CrashHandler
{
public:
    // Installs the handlers once; later calls do nothing.
    static void install();
    // Gives the calling thread its own signal stack, so that a stack
    // overflow on it still gets a dump. install() does this for its thread.
    static void prepareThread();
};
