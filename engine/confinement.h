// Confining a run once its files are open, so that it can only read, write and exit.
#ifndef ENGINE_CONFINEMENT_H_
#define ENGINE_CONFINEMENT_H_

// What a run may still do once its table is open. A program chooses; tests and the fuzzer, which
// run many lookups in one process, keep kNone.
enum class Confinement {
  kNone,
  // Strict seccomp: only read, write and the exit of the thread are left, so the run ends the
  // process itself with its status and never returns. Where the kernel refuses, it runs on
  // unconfined. The process must have one thread, and must allocate nothing once confined.
  kSandbox,
};

// The confinement that the programs of this build enter: the build defines LOOKUP_CONFINE=1 for
// them when it confines them.
#if defined(LOOKUP_CONFINE) && LOOKUP_CONFINE
inline constexpr Confinement kProgramConfinement = Confinement::kSandbox;
#else
inline constexpr Confinement kProgramConfinement = Confinement::kNone;
#endif

// Enters confinement; returns whether the run is now confined.
bool enterConfinement(Confinement confinement);

// Ends a run whose file fd is open: a confined run exits with status and never returns (the exit
// releases fd); otherwise fd is closed and status returned.
int finishRun(int status, int fd, bool confined);

#endif  // ENGINE_CONFINEMENT_H_
