// The module's load entry point on POSIX: a shared object gets no thread
// attach or detach notifications, so there is nothing to switch off.
