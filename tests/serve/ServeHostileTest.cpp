// Hostile requests against a running `tarnwick-cli serve`, raw UDP from the
// test. After every row: nothing beside ROOT changed, ROOT holds only what
// the row may create, no byte of the file outside ROOT was ever sent, and a
// normal transfer running all along takes its next step.
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <set>
#include <string>

#include "../tftp/ScriptedPeer.h"
#include "ServeProcess.h"

namespace {

using tarnwick::testing_support::Ack;
using tarnwick::testing_support::Data;
using tarnwick::testing_support::Error;
using tarnwick::testing_support::Pattern;
using tarnwick::testing_support::ReadWhole;
using tarnwick::testing_support::ScriptedPeer;
using tarnwick::testing_support::ServeProcess;
using tarnwick::testing_support::WriteWhole;

const std::string kSecret = "SECRET-OUTSIDE-ROOT-7f3a";

std::string Request(int opcode, const std::string& name, const std::string& tail = std::string("octet\0", 6)) {
  return std::string{0, static_cast<char>(opcode)} + name + std::string(1, '\0') + tail;
}
int Opcode(const std::string& p) { return p.size() < 2 ? -1 : (static_cast<unsigned char>(p[0]) << 8) | static_cast<unsigned char>(p[1]); }
int Number(const std::string& p) { return p.size() < 4 ? -1 : (static_cast<unsigned char>(p[2]) << 8) | static_cast<unsigned char>(p[3]); }

// Every datagram the server sends to any of the test's peers passes here.
struct Watch {
  const ServeProcess& server;
  bool leaked = false;
  std::optional<std::string> Receive(ScriptedPeer& peer, int ms = 3000) {
    auto p = peer.Receive(ms);
    if (p && p->find(kSecret) != std::string::npos) leaked = true;
    return p;
  }
  // The answer to a request: the ERROR code, 0x300 + block for DATA, 0x600 for OACK, -1 for silence.
  int Answer(const std::string& datagram, int ms = 1000) {
    ScriptedPeer peer;
    peer.SendTo(server.Port(), datagram);
    auto p = Receive(peer, ms);
    if (!p) return -1;
    if (Opcode(*p) != 5) peer.Reply(Error(0, std::string("test done\0", 10)));  // end it politely
    return Opcode(*p) == 5 ? Number(*p) : Opcode(*p) == 3 ? 0x300 + Number(*p) : Opcode(*p) << 8;
  }
};

// Names (with contents for files) beneath a folder, links not followed; skip
// leaves out top-level names.
std::string Snapshot(const std::string& folder, const std::set<std::string>& skip = {}) {
  std::string out;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return "?";
  std::set<std::string> names;
  while (dirent* e = ::readdir(d))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != ".." && !skip.count(e->d_name))
      names.insert(e->d_name);
  ::closedir(d);
  for (const std::string& n : names) {
    struct stat st;
    ::lstat((folder + "/" + n).c_str(), &st);
    out += n + (S_ISDIR(st.st_mode) ? "/{" + Snapshot(folder + "/" + n) + "}" : "") +
           (S_ISREG(st.st_mode) ? "=" + ReadWhole(folder + "/" + n) : "") + ";";
  }
  return out;
}

TEST(ServeHostile, RequestsStayInsideRootAndHarmNoOne) {
  ServeProcess server({"--upload", "--log-json"}, false);
  ASSERT_EQ(server.Unavailable(), "");
  const std::string root = server.Root(), outside = server.Outside();
  WriteWhole(outside + "/secret", kSecret);
  ::chmod((outside + "/secret").c_str(), 0644);  // readable by the server's user: only confinement keeps it in
  WriteWhole(root + "/ok.bin", Pattern(5000, 3));
  const std::string big = Pattern(512 * 40 + 11, 4);
  WriteWhole(root + "/big.bin", big);
  ::mkdir((root + "/sub").c_str(), 0777);
  ASSERT_EQ(::symlink((outside + "/secret").c_str(), (root + "/link").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), (root + "/dirlink").c_str()), 0);
  ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0666), 0);
  const std::string outsideBefore = Snapshot(outside), rootBefore = Snapshot(root);
  Watch w{server};

  // The bystander: a lock-step read of big.bin that takes one step per row.
  ScriptedPeer normal;
  normal.SendTo(server.Port(), Request(1, "big.bin"));
  std::string got;
  int block = 0;
  const auto step = [&] {
    if (block > 0) normal.Reply(Ack(static_cast<std::uint16_t>(block)));
    for (int tries = 0; tries < 8; ++tries) {  // re-sent copies of the last block are skipped
      auto p = w.Receive(normal);
      if (!p) return false;
      if (Opcode(*p) == 3 && Number(*p) == block + 1) {
        got += p->substr(4);
        return ++block, true;
      }
    }
    return false;
  };
  ASSERT_TRUE(step());

  const int kSilent = -1;
  struct Row {
    const char* kind;
    std::function<int()> act;  // returns what was answered, as Watch::Answer does
    int expect;
    const char* creates = nullptr;  // the one file the row may leave in ROOT
  };
  const std::string oct("octet\0", 6);
  std::string flood = oct;
  for (int i = 0; i < 40; ++i) flood += "x" + std::to_string(i) + std::string("\0y\0", 3);
  flood += std::string("blksize\0" "1428\0", 13);
  const Row rows[] = {
      {"dot-dot", [&] { return w.Answer(Request(1, "../outside/secret")); }, 2},
      {"dot-dot, backslashes", [&] { return w.Answer(Request(1, "..\\outside\\secret")); }, 2},
      {"dot-dot below a folder", [&] { return w.Answer(Request(1, "sub/../../outside/secret")); }, 2},
      {"absolute name means ROOT", [&] { return w.Answer(Request(1, "/etc/passwd")); }, 1},
      {"absolute name of the outside file", [&] { return w.Answer(Request(1, outside + "/secret")); }, 1},
      {"symlink planted in ROOT", [&] { return w.Answer(Request(1, "link")); }, 2},
      {"through a planted folder symlink", [&] { return w.Answer(Request(1, "dirlink/secret")); }, 2},
      {"upload through a folder symlink", [&] { return w.Answer(Request(2, "dirlink/planted")); }, 2},
      {"upload with dot-dot", [&] { return w.Answer(Request(2, "../outside/planted")); }, 2},
      {"FIFO in ROOT (must not block)", [&] { return w.Answer(Request(1, "fifo")); }, 2},
      {"name of 1100 bytes", [&] { return w.Answer(Request(1, std::string(1100, 'a'))); }, 2},
      {"name without its NUL", [&] { return w.Answer(std::string("\0\1ok.bin", 8)); }, 4},
      {"mode without its NUL", [&] { return w.Answer(std::string("\0\1ok.bin\0octet", 14)); }, 4},
      {"option flood: pairs past the 32nd ignored", [&] { return w.Answer(Request(1, "ok.bin", flood)); }, 0x301},
      {"1-byte datagram", [&] { return w.Answer(std::string(1, '\1')); }, kSilent},
      {"blksize x windowsize capped",
       [&] {
         ScriptedPeer p;
         p.SendTo(server.Port(), Request(1, "big.bin", oct + std::string("blksize\0" "65464\0windowsize\0" "65535\0", 31)));
         auto oack = w.Receive(p);
         if (!oack || Opcode(*oack) != 6) return oack ? Opcode(*oack) << 8 : kSilent;
         p.Reply(Error(0, std::string("done\0", 5)));
         long size = 0, window = 0;  // the agreed values, from the OACK's pairs
         for (std::size_t at = 2; at < oack->size();) {
           std::string name = oack->c_str() + at;
           at += name.size() + 1;
           std::string value = at < oack->size() ? oack->c_str() + at : "";
           at += value.size() + 1;
           (name == "blksize" ? size : window) = std::atol(value.c_str());
         }
         return size * (window ? window : 1) <= (1 << 20) && window <= 64 ? 0x600 : 0x666;
       },
       0x600},
      {"ACK for the future is ignored",
       [&] {
         ScriptedPeer p;
         p.SendTo(server.Port(), Request(1, "ok.bin"));
         auto d = w.Receive(p);
         if (!d || Opcode(*d) != 3) return kSilent;
         p.Reply(Ack(60000));
         p.Reply(Ack(1));
         for (int tries = 0; tries < 4; ++tries) {
           d = w.Receive(p);
           if (!d || Opcode(*d) != 3 || Number(*d) != 1) break;
         }
         p.Reply(Error(0, std::string("done\0", 5)));
         return !d ? kSilent : Opcode(*d) == 5 ? Number(*d) : 0x300 + Number(*d);
       },
       0x302},
      {"forged ERROR from another port",
       [&] {
         ScriptedPeer owner, forger;
         owner.SendTo(server.Port(), Request(1, "ok.bin"));
         auto d = w.Receive(owner);
         if (!d || Opcode(*d) != 3) return kSilent;
         forger.SendTo(owner.LastSenderPort(), Error(0, std::string("forged\0", 7)));
         auto toForger = w.Receive(forger, 500);  // ERROR 5 or nothing; never data
         if (toForger && Opcode(*toForger) != 5) return 0x777;
         owner.Reply(Ack(1));
         for (int tries = 0; tries < 4; ++tries) {
           d = w.Receive(owner);
           if (!d || Opcode(*d) != 3 || Number(*d) != 1) break;
         }
         owner.Reply(Error(0, std::string("done\0", 5)));
         return !d ? kSilent : Opcode(*d) == 5 ? Number(*d) : 0x300 + Number(*d);
       },
       0x302},
      {"WRQ re-sent while its upload runs",
       [&] {
         ScriptedPeer p;
         const std::string wrq = Request(2, "dup.bin");
         p.SendTo(server.Port(), wrq);
         auto a = w.Receive(p);
         if (!a || Opcode(*a) != 4 || Number(*a) != 0) return a ? Opcode(*a) << 8 | Number(*a) : kSilent;
         const std::uint16_t tid = p.LastSenderPort();
         p.SendTo(server.Port(), wrq);
         // Only ACK 0 again from the same port, or nothing: never a second transfer or "exists".
         for (a = w.Receive(p, 300); a; a = w.Receive(p, 300))
           if (p.LastSenderPort() != tid || Opcode(*a) != 4 || Number(*a) != 0) return 0x888;
         p.SendTo(tid, Data(1, "pushed configuration"));
         a = w.Receive(p);
         for (int wait = 0; wait < 100 && ReadWhole(root + "/dup.bin").empty(); ++wait) ::poll(nullptr, 0, 50);
         return a && Opcode(*a) == 4 && Number(*a) == 1 && ReadWhole(root + "/dup.bin") == "pushed configuration"
                    ? 0x401 : 0x999;
       },
       0x401, "dup.bin"},
      {"a request never answered: one repeat at most",
       [&] {
         ScriptedPeer p;
         p.SendTo(server.Port(), Request(1, "big.bin"));
         int seen = 0;
         while (w.Receive(p, 6000)) ++seen;
         return seen == 1 ? 2 : seen;  // no repeat at all is as good
       },
       2},
  };
  std::set<std::string> created;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.kind);
    EXPECT_EQ(r.act(), r.expect);
    if (r.creates) created.insert(r.creates);
    EXPECT_EQ(Snapshot(outside), outsideBefore);
    EXPECT_EQ(Snapshot(root, created), rootBefore);
    ASSERT_TRUE(step()) << "the normal transfer stalled";
  }
  EXPECT_FALSE(w.leaked);
  while (got.size() % 512 == 0 && step()) {
  }
  normal.Reply(Ack(static_cast<std::uint16_t>(block)));
  EXPECT_TRUE(got == big) << got.size() << " of " << big.size() << " bytes";
}

}  // namespace
