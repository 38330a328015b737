// What the real-peer fixtures share (POSIX only): a free loopback UDP port,
// "does a TFTP server answer there", and starting and stopping a program by
// its PID.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing_support {

// A port that was free on 127.0.0.1 a moment ago.
std::uint16_t FreeLoopbackUdpPort();
// True once something answers a read request on 127.0.0.1:port within timeoutMs.
bool TftpAnswers(std::uint16_t port, int timeoutMs = 100);
// Starts argv[0] with stdin, stdout and stderr on /dev/null; 0 on failure.
long SpawnQuiet(const std::vector<std::string>& argv);
// True while pid has not exited (reaps it when it has).
bool StillRunning(long pid);
// SIGTERM, a bounded wait, then SIGKILL; always reaps.
void StopProcess(long pid);
// A fresh folder under /tmp that everyone may write into (servers drop privileges).
std::string MakeServedFolder(const std::string& prefix);
void RemoveFolder(const std::string& folder);

}  // namespace tarnwick::testing_support
