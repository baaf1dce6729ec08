#pragma once

#include <string>

// Tests that mount file systems do it in a mount namespace of their own, so the machine's
// table never sees them and everything is unmounted when the test process ends.

// Moves this (single-threaded) process into a private mount namespace. Returns an empty
// text on success, else why it could not (not root, no namespaces in this container...).
std::string EnterPrivateMountNamespace();

// Runs a shell command; true when it exits with status 0. Its output goes to output.
bool RunShell(const std::string& command, std::string* output = nullptr);

// True when the running kernel offers the file system type (as /proc/filesystems lists it).
bool KernelHasFileSystem(const std::string& type);
