// What the station's end-to-end tests share: raw HTTP requests, and a
// fixture running the real daemon, emulated boxes and the station.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/station/Rotctl.h"
#include "tests/support/ChildProcess.h"

namespace station_test {

// Any turn of a box emulated at 30 degrees a second, on a loaded machine.
const int kTurnMs = 40000;

// HTTP/1.1 requests that close their connection; Post sends a form.
inline std::string Get(const std::string& path, const std::string& extra = "") {
  return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" + extra + "\r\n";
}
inline std::string Post(const std::string& path, const std::string& body, const std::string& extra = "") {
  return "POST " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n" + extra + "\r\n" + body;
}
// The whole answer to `request` on a new connection ("" when it is closed
// without one), and an answer's status line.
inline std::string Answer(int port, const std::string& request, int timeoutMs = 5000) {
  testing_support::TcpClient client;
  return client.Connect(port) && client.Send(request) ? client.ReadAll(timeoutMs) : "";
}
inline std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

// SetUp makes a directory for the boxes' links and starts the real daemon
// (port 13020 must be free); TearDown stops the station, the boxes and the
// daemon, in that order, and removes the directory.
class StationRig : public ::testing::Test {
 protected:
  using ChildProcess = testing_support::ChildProcess;

  void SetUp() override {
    ASSERT_TRUE(testing_support::PortIsFree()) << "TCP port 13020 is in use by another process";
    char name[] = "/tmp/zeva-station-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
  }
  void TearDown() override {
    station.Stop(5000);
    for (ChildProcess* box : boxes) box->Stop(5000);
    daemon.Stop(5000);
    for (const std::string& link : links) unlink(link.c_str());
    rmdir(dir.c_str());
  }

  // Starts `box` as zeva-boxsim with `args` on the link dir/name and waits
  // until it is ready: the link's path, "" when it is not.
  std::string StartBox(ChildProcess& box, const std::string& name, std::vector<std::string> args) {
    boxes.push_back(&box);
    links.push_back(dir + "/" + name);
    args.insert(args.begin(), ZEVA_BOXSIM_PATH);
    args.insert(args.end(), {"--link", links.back()});
    return box.Start(args) && !box.FirstStdoutLine(5000).empty() ? links.back() : "";
  }
  // Waits until the daemon has opened the box at `link` for the station.
  bool Created(const std::string& link) { return daemon.WaitForStdout("Status: " + link + " created", 10000); }
  // Picks free loopback ports for the station: the rotctld ports of
  // `rotators` rotators from `port` (one every two) and `http` above them.
  void PickPorts(int rotators) {
    port = FreePorts(rotators + 1);
    http = port + 2 * rotators;
    ASSERT_NE(port, 0) << "no free loopback ports for the station";
  }

  std::string dir;
  int port = 0, http = 0;
  testing_support::Daemon daemon;
  ChildProcess station;

 private:
  std::vector<ChildProcess*> boxes;
  std::vector<std::string> links;
};

}  // namespace station_test
