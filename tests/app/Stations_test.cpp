// Several workstations for real: headless stations (mirvel-station) as separate processes on one
// database directory made by the creation tool, each with its own HOME, registry, runtime
// directory and login.  Every wait is bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/InitDb.h"
#include "app/MirvelSchema.h"
#include "classlib/rtl/DateTime.h"
#include "engine/components/TTesseraSession.h"
#include "engine/components/TTesseraTable.h"
#include "engine/storage/table/TableCheck.h"
#include "tests/platform/TempDirectory.h"

extern char** environ;

namespace mirvel {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Event {
  int64_t ms;
  std::string text;
};

class Station {
 public:
  Station(const std::string& home, const std::string& login, const std::string& db) {
    signal(SIGPIPE, SIG_IGN);
    std::filesystem::create_directories(home + "/reg");
    std::filesystem::create_directories(home + "/run");
    std::filesystem::permissions(home + "/run", std::filesystem::perms::owner_all);
    std::vector<std::string> env = {"HOME=" + home, "MIRVEL_REGISTRY_DIR=" + home + "/reg",
                                    "XDG_RUNTIME_DIR=" + home + "/run", "MIRVEL_LOGIN=" + login,
                                    "QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string var = *e;
      const std::string name = var.substr(0, var.find('='));
      if (name != "HOME" && name != "MIRVEL_REGISTRY_DIR" && name != "XDG_RUNTIME_DIR" &&
          name != "MIRVEL_LOGIN") {
        env.push_back(var);
      }
    }
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string path = MIRVEL_STATION;
    std::string arg = db;
    char* argv[] = {path.data(), arg.data(), nullptr};
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Station() {
    if (to_ >= 0) close(to_);
    if (pid_ > 0) {
      // A station that does not end within its bounded wait is killed.
      if (!WaitExit(15000)) Kill();
    }
    if (from_ >= 0) close(from_);
  }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(to_, text.data(), text.size()), static_cast<ssize_t>(text.size())) << line;
  }

  // Waits until an event starting with `prefix` arrives after the events already consumed;
  // returns it, or an event with ms -1 after `timeout_ms`.
  Event Expect(const std::string& prefix, int timeout_ms = 10000) {
    const int64_t end = NowMs() + timeout_ms;
    for (;;) {
      while (next_ < events_.size()) {
        const Event& e = events_[next_++];
        if (e.text.rfind(prefix, 0) == 0) return e;
      }
      const int64_t left = end - NowMs();
      if (left <= 0 || !ReadSome(static_cast<int>(left))) {
        for (const Event& e : events_) {
          std::fprintf(stderr, "  seen %lld %s\n", static_cast<long long>(e.ms), e.text.c_str());
        }
        return {-1, ""};
      }
    }
  }
  // Reads what arrives within `ms`.
  void Drain(int ms) {
    const int64_t end = NowMs() + ms;
    while (NowMs() < end && ReadSome(static_cast<int>(end - NowMs()))) {
    }
  }
  // Reads for `ms`, then leaves everything read out of later Expect calls.
  void Skip(int ms) {
    Drain(ms);
    next_ = events_.size();
  }
  std::vector<Event> All(const std::string& prefix) const {
    std::vector<Event> found;
    for (const Event& e : events_) {
      if (e.text.rfind(prefix, 0) == 0) found.push_back(e);
    }
    return found;
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    WaitExit(10000);
  }
  // The exit code, -1 while it runs after `ms`.
  bool WaitExit(int ms) {
    for (int waited = 0; pid_ > 0 && waited <= ms; waited += 10) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return true;
      }
      usleep(10000);
    }
    return pid_ <= 0;
  }
  int ExitCode() const { return exit_code_; }

 private:
  bool ReadSome(int timeout_ms) {
    pollfd p{from_, POLLIN, 0};
    const int r = poll(&p, 1, timeout_ms);
    if (r <= 0) return false;
    char buf[4096];
    const ssize_t n = read(from_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<size_t>(n));
    size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      const std::string line = pending_.substr(0, eol);
      pending_.erase(0, eol + 1);
      const size_t blank = line.find(' ');
      if (blank == std::string::npos) continue;
      events_.push_back({std::stoll(line.substr(0, blank)), line.substr(blank + 1)});
    }
    return true;
  }

  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  int exit_code_ = -1;
  std::string pending_;
  std::vector<Event> events_;
  size_t next_ = 0;
};

class StationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tessera::InitializeSessions();  // the test reads the tables itself at the end
    CreateMirvelDatabase(Db(), {"chef", "Le Chef"}, 46363.5);
  }
  std::string Db() {
    std::filesystem::create_directories(dir_.Path() + "/Base");
    return dir_.Path() + "/Base";
  }
  std::unique_ptr<Station> Start(const std::string& login) {
    auto s = std::make_unique<Station>(dir_.Path() + "/" + login, login, Db());
    EXPECT_GE(s->Expect("ready").ms, 0) << login;
    return s;
  }
  // Starts and connects; the user number.
  int Connect(Station& s) {
    s.Send("connect");
    const Event e = s.Expect("connected ");
    EXPECT_GE(e.ms, 0);
    return e.ms < 0 ? -1 : std::stoi(e.text.substr(10));
  }
  // "msg DATE TO FROM CALLER" (or, by `prefix`, "cli NUMBER NAME") lines of a dump.
  std::vector<std::string> DumpMessages(Station& s, const std::string& prefix = "msg ") {
    const size_t before = s.All(prefix).size();
    s.Send("dump");
    EXPECT_GE(s.Expect("dumped").ms, 0);
    std::vector<std::string> lines;
    const std::vector<Event> all = s.All(prefix);
    for (size_t i = before; i < all.size(); ++i) lines.push_back(all[i].text);
    return lines;
  }
  // `read` of the first row of `file` whose `key_field` reads `key`, read from the files once
  // the stations are gone.
  template <class Read>
  auto Row(const char* file, const char* key_field, const std::string& key, Read read) {
    tessera::TTesseraTable t(nullptr);
    t.SetDatabaseName(Db());
    t.SetTableName(file);
    t.Open();
    for (t.First(); !t.Eof() && t.FieldByName(key_field)->AsString() != key; t.Next()) {
    }
    EXPECT_FALSE(t.Eof()) << file << " " << key;
    return read(t);
  }
  int ClientCounter() {
    return Row("Numeros.DAT", "NomTable", "CLIENTS",
               [](tessera::TTesseraTable& t) { return t.FieldByName("Numero")->AsInteger(); });
  }

  mirvel_test::TempDirectory dir_{"stations"};
};

TEST_F(StationsTest, PostsReachEveryRecipientWithinThePoll) {
  std::vector<std::unique_ptr<Station>> st;
  std::vector<int> users;
  for (const char* login : {"alpha", "beta", "gamma"}) {
    st.push_back(Start(login));
    users.push_back(Connect(*st.back()));
  }
  // (poster, recipient, acknowledged at)
  std::vector<std::tuple<int, int, int64_t>> posts;
  for (int from = 0; from < 3; ++from) {
    for (int to = 0; to < 3; ++to) {
      if (from == to) continue;
      st[from]->Send("post " + std::to_string(users[to]));
      const Event ack = st[from]->Expect("posted ");
      ASSERT_GE(ack.ms, 0);
      posts.emplace_back(from, to, ack.ms);
    }
  }
  const std::string list =
      std::to_string(users[0]) + ";" + std::to_string(users[1]) + ";" + std::to_string(users[2]);
  const double before_list = cl::Now();
  st[0]->Send("post " + list);
  const Event list_ack = st[0]->Expect("posted list");
  ASSERT_GE(list_ack.ms, 0);
  posts.emplace_back(0, 1, list_ack.ms);
  posts.emplace_back(0, 2, list_ack.ms);
  for (auto& s : st) s->Drain(7500);
  for (const auto& [from, to, at] : posts) {
    bool seen = false;
    for (const Event& alert : st[to]->All("alert")) {
      seen = seen || (alert.ms >= at - 1000 && alert.ms <= at + 7000);
    }
    EXPECT_TRUE(seen) << from << " to " << to << " at " << at;
  }
  // One record per recipient, none to the list, the copy to the poster itself included.
  std::map<std::pair<int, int>, int> stored;
  for (const std::string& line : DumpMessages(*st[1])) {
    int to = 0;
    int from = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "msg %*f %d %d", &to, &from), 2) << line;
    ++stored[{from, to}];
  }
  std::map<std::pair<int, int>, int> expected;
  for (int from = 0; from < 3; ++from) {
    for (int to = 0; to < 3; ++to) {
      if (from != to) expected[{users[from], users[to]}] = 1;
    }
  }
  for (int to = 0; to < 3; ++to) ++expected[{users[0], users[to]}];
  EXPECT_EQ(stored, expected);
  for (auto& s : st) s->Send("quit");
  for (auto& s : st) EXPECT_TRUE(s->WaitExit(10000));
  // Every notice was seen and cleared.
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const auto [unread, stamp] =
        Row("Users.DAT", "NoUtilisateur", std::to_string(users[i]), [](tessera::TTesseraTable& t) {
          return std::make_pair(t.FieldByName("NewMessages")->AsInteger(),
                                t.FieldByName("DateNewMessage")->AsDateTime());
        });
    // A notice that arrived in the last poll may still be unread when the station quits.
    EXPECT_LE(unread, 1);
    EXPECT_GT(stamp, 0.0);
    // The list's recipients were notified by it; the poster's own stamp comes from the others'
    // posts, whose notices may land around the list's own moment, so it is not compared.
    if (i != 0) {
      EXPECT_GE(stamp, before_list);
    }
  }
}

// A caller added on one workstation is offered on the other within a poll, and a message from
// that caller saved there does not add it a second time.
TEST_F(StationsTest, ACallerAddedElsewhereIsOfferedAndNotAddedTwice) {
  std::unique_ptr<Station> a = Start("alpha");
  std::unique_ptr<Station> b = Start("beta");
  const int user_a = Connect(*a);
  const int user_b = Connect(*b);
  a->Send("answer yes");
  b->Send("answer yes");
  a->Send("call Durand " + std::to_string(user_b));
  ASSERT_GE(a->Expect("box L'interlocuteur \"Durand\" n'existe pas").ms, 0);
  const Event added = a->Expect("posted ");
  ASSERT_GE(added.ms, 0);
  std::string offered;
  while (NowMs() - added.ms < 6500 && offered != "callers Durand") {
    b->Send("callers");
    offered = b->Expect("callers").text;
    b->Skip(250);
  }
  EXPECT_EQ(offered, "callers Durand") << "offered within the 5 s poll";
  b->Send("call Durand " + std::to_string(user_a));
  ASSERT_GE(b->Expect("posted ").ms, 0);
  for (const Event& box : b->All("box ")) ADD_FAILURE() << "B asked: " << box.text;
  b->Send("callers");
  EXPECT_EQ(b->Expect("callers").text, "callers Durand") << "no second Durand";
}

TEST_F(StationsTest, NumbersAreUniqueAndAHeldCounterTableFailsThePost) {
  std::vector<std::unique_ptr<Station>> st;
  for (const char* login : {"alpha", "beta", "gamma"}) {
    st.push_back(Start(login));
    Connect(*st.back());
  }
  for (size_t i = 0; i < st.size(); ++i) st[i]->Send("clients S" + std::to_string(i) + "_ 30");
  std::set<int> numbers;
  for (auto& s : st) {
    for (int i = 0; i < 30; ++i) {
      const Event e = s->Expect("client ", 30000);
      ASSERT_GE(e.ms, 0) << "client " << i;
      numbers.insert(std::stoi(e.text.substr(7)));
    }
  }
  EXPECT_EQ(numbers.size(), 90u);
  EXPECT_EQ(*numbers.rbegin(), 90);

  st[0]->Send("hold 7000");
  ASSERT_GE(st[0]->Expect("held").ms, 0);
  const int64_t start = NowMs();
  st[1]->Send("clients Z 1");
  const Event failed = st[1]->Expect("error ", 9000);
  ASSERT_GE(failed.ms, 0);
  EXPECT_NE(failed.text.find("Affectation d'un num\xC3\xA9ro impossible, r\xC3\xA9\xC3\xA9ssayer "
                             "plus tard"),
            std::string::npos)
      << failed.text;
  EXPECT_GE(failed.ms - start, 4500);
  EXPECT_LE(failed.ms - start, 7000);
  // The client stays in insert state (3) for the user to post again.
  EXPECT_EQ(failed.text.substr(failed.text.size() - 2), " 3") << failed.text;
  for (auto& s : st) s->Send("quit");
  for (auto& s : st) EXPECT_TRUE(s->WaitExit(10000));
  EXPECT_EQ(ClientCounter(), 90);
}

// A station killed at a random moment leaves no lock behind: the others go on posting and seeing
// each other's messages, and every post it acknowledged is stored exactly once.
TEST_F(StationsTest, AKilledStationLeavesNoLockAndLosesNoAcknowledgedPost) {
  auto alpha = Start("alpha");
  auto beta = Start("beta");
  const int a = Connect(*alpha);
  const int b = Connect(*beta);
  const unsigned seed = std::random_device{}();
  std::printf("seed %u\n", seed);
  std::mt19937 random(seed);
  std::set<std::string> acknowledged;
  std::set<int> clients;
  for (int round = 0; round < 2; ++round) {
    auto gamma = Start("gamma");
    Connect(*gamma);
    const bool posting = round == 0;
    gamma->Send(posting ? "post " + std::to_string(a) + " 500" : "clients K 500");
    gamma->Drain(300 + static_cast<int>(random() % 1200));
    gamma->Kill();
    for (const Event& e : gamma->All(posting ? "posted " : "client ")) {
      if (posting) {
        acknowledged.insert(e.text.substr(7));
      } else {
        EXPECT_TRUE(clients.insert(std::stoi(e.text.substr(7))).second) << e.text;
      }
    }
    // The alert of the killed station's last posts must not stand for beta's below.
    if (posting) alpha->Skip(6000);
    alpha->Send("post " + std::to_string(b));
    beta->Send("post " + std::to_string(a));
    const Event sent_a = alpha->Expect("posted ");
    const Event sent_b = beta->Expect("posted ");
    ASSERT_GE(sent_a.ms, 0) << "round " << round;
    ASSERT_GE(sent_b.ms, 0) << "round " << round;
    EXPECT_GE(beta->Expect("alert", 7500).ms, 0) << "round " << round;
    EXPECT_GE(alpha->Expect("alert", 7500).ms, 0) << "round " << round;
    alpha->Send("clients L" + std::to_string(round) + "_ 3");
    for (int i = 0; i < 3; ++i) {
      const Event e = alpha->Expect("client ", 15000);
      ASSERT_GE(e.ms, 0);
      EXPECT_TRUE(clients.insert(std::stoi(e.text.substr(7))).second) << e.text;
    }
  }
  std::map<std::string, int> stored;
  for (const std::string& line : DumpMessages(*alpha)) {
    char date[64];
    if (std::sscanf(line.c_str(), "msg %63s", date) == 1) ++stored[date];
  }
  for (const std::string& date : acknowledged) EXPECT_EQ(stored[date], 1) << date;
  std::set<int> numbers;
  for (const std::string& line : DumpMessages(*alpha, "cli ")) {
    int number = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "cli %d", &number), 1) << line;
    EXPECT_TRUE(numbers.insert(number).second) << line;
  }
  ASSERT_FALSE(numbers.empty());
  alpha->Send("quit");
  beta->Send("quit");
  alpha->WaitExit(10000);
  beta->WaitExit(10000);
  EXPECT_GE(ClientCounter(), *numbers.rbegin()) << "a number handed out twice";
  // Every table must stand whole after the kills: whatever the checker finds fails the test,
  // with the seed above to replay it.
  for (const TSchemaTable& table : MirvelTables()) {
    const tessera::TTableCheckReport report =
        tessera::CheckTableFiles(Db() + "/" + table.file_name);
    std::string problems;
    for (const std::string& problem : report.problems) problems += "\n  " + problem;
    EXPECT_TRUE(report.ok()) << table.file_name << " (seed " << seed << "):" << problems;
  }
}

TEST_F(StationsTest, ASecondInstanceHandsOverAndEnds) {
  auto first = Start("alpha");
  Station second(dir_.Path() + "/alpha", "alpha", Db());
  ASSERT_TRUE(second.WaitExit(10000));
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_GE(first->Expect("shown", 5000).ms, 0);
  first->Send("quit");
}

}  // namespace
}  // namespace mirvel
