#include "ornpe/ornpe_options.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "ornpe/air_call.h"
#include "ornpe/virtual_engine.h"
#include "platform/text.h"

namespace orn {
namespace {

bool ParseNumber(const std::string& text, int64_t lo, int64_t hi, int64_t* out) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int64_t v = std::strtoll(text.c_str(), nullptr, 10);
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

// "CALL=HOST:PORT[,raw]"; "" or what is wrong.
std::string ParseDial(const std::string& text, DialTarget* out) {
  const std::string form = "--dial wants CALL=HOST:PORT or CALL=HOST:PORT,raw, not " + text;
  const size_t eq = text.find('=');
  if (eq == std::string::npos) return form;
  out->call = AirForm(UpperAscii(text.substr(0, eq)));
  if (!IsAirCall(out->call)) return "--dial wants a callsign such as XX5FBB before '=', not " + text.substr(0, eq);
  std::string where = text.substr(eq + 1);
  const size_t comma = where.rfind(',');
  if (comma != std::string::npos && where.find(']', comma) == std::string::npos) {
    if (where.substr(comma + 1) != "raw") return form;
    out->raw = true;
    where.resize(comma);
  }
  if (!ParseHostPort(where, &out->host, &out->port)) return form;
  if (out->port == 0) return "--dial needs the port to dial, not 0: " + text;
  return {};
}

// A yes or no; false when `v` is neither.
bool YesNo(const std::string& v, bool* out) {
  const std::string l = UpperAscii(v);
  if (l == "1" || l == "YES" || l == "TRUE" || l == "ON") {
    *out = true;
  } else if (l == "0" || l == "NO" || l == "FALSE" || l == "OFF") {
    *out = false;
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string ConfigArgs(const std::string& text, std::vector<std::string>* args) {
  std::istringstream in(text);
  std::string line;
  std::string section;
  std::string dialCall;
  int number = 0;
  int sectionLine = 0;
  // Each section once, each key once in it: a second one would silently
  // win, or (an engine's address) add an engine.
  std::map<std::string, int> sections;  // upper-case name: its line
  std::map<std::string, int> keys;      // of the section: its line
  bool hasAddress = false;
  // A dial section's address waits for its raw key, which may follow it.
  std::string dialAddress;
  bool dialRaw = false;
  auto endSection = [&]() -> std::string {
    const std::string kind = UpperAscii(section.substr(0, section.find(' ')));
    const std::string where = "line " + std::to_string(sectionLine) + ": ";
    if ((kind == "DIAL" || kind == "ENGINE") && !hasAddress) return where + "[" + section + "] has no address";
    if (kind == "DIAL") {
      args->push_back("--dial");
      args->push_back(dialCall + "=" + dialAddress + (dialRaw ? ",raw" : ""));
    }
    if (kind == "BBS-GATEWAY" && !dialAddress.empty()) {
      args->push_back("--bbs-gateway");
      args->push_back(dialAddress + (dialRaw ? ",raw" : ""));
    }
    dialAddress.clear();
    dialRaw = false;
    hasAddress = false;
    keys.clear();
    return {};
  };
  while (std::getline(in, line)) {
    ++number;
    const std::string where = "line " + std::to_string(number) + ": ";
    // A comment runs from ';' or '#' at the start or after a blank to the end of the line.
    for (size_t i = 0; i < line.size(); ++i) {
      if ((line[i] == ';' || line[i] == '#') && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
        line.resize(i);
        break;
      }
    }
    line = Trim(line);
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') return where + "a section wants [NAME], not " + line;
      const std::string problem = endSection();
      if (!problem.empty()) return problem;
      section = Trim(line.substr(1, line.size() - 2));
      sectionLine = number;
      std::string name = UpperAscii(section);
      if (const size_t sp = name.find(' '); sp != std::string::npos) {
        name = name.substr(0, sp) + " " + Trim(name.substr(sp));  // [dial  X] is [dial X]
      }
      if (const auto [it, fresh] = sections.emplace(name, number); !fresh) {
        return where + "[" + section + "] again (first at line " + std::to_string(it->second) + ")";
      }
      const std::string kind = UpperAscii(section.substr(0, section.find(' ')));
      if (kind == "DIAL") {
        dialCall = Trim(section.substr(4));
        if (dialCall.empty()) return where + "[dial CALL] wants the callsign";
      } else if (kind != "ORNPE" && kind != "GATEWAY" && kind != "BBS-GATEWAY" && kind != "ENGINE") {
        return where + "unknown section [" + section + "]";
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return where + "wants KEY=VALUE, not " + line;
    const std::string key = UpperAscii(Trim(line.substr(0, eq)));
    const std::string value = Trim(line.substr(eq + 1));
    if (const auto [it, fresh] = keys.emplace(key, number); !fresh) {
      return where + Trim(line.substr(0, eq)) + " again (first at line " + std::to_string(it->second) + ")";
    }
    if (key == "ADDRESS") hasAddress = true;
    const std::string kind = UpperAscii(section.substr(0, section.find(' ')));
    std::string option;
    if (kind == "ORNPE" && (key == "LISTEN" || key == "PORTS" || key == "RETRY-MS" || key == "BBS" || key == "LOG")) {
      option = "--" + key;
      for (char& c : option) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    } else if (kind == "GATEWAY" && key == "LISTEN") {
      option = "--gateway";
    } else if (kind == "GATEWAY" && key == "BBS") {
      option = "--bbs";
    } else if (kind == "BBS-GATEWAY" && key == "LISTEN") {
      dialAddress = value;  // like a dial section's, it waits for raw
      continue;
    } else if (kind == "ENGINE" && key == "ADDRESS") {
      option = "--engine";
    } else if (kind == "DIAL" && key == "ADDRESS") {
      dialAddress = value;
      continue;
    } else if ((kind == "DIAL" || kind == "BBS-GATEWAY") && key == "RAW") {
      if (!YesNo(value, &dialRaw)) return where + "raw wants yes or no, not " + value;
      continue;
    } else {
      return where + "unknown key " + Trim(line.substr(0, eq)) + (section.empty() ? "" : " in [" + section + "]");
    }
    args->push_back(option);
    args->push_back(value);
  }
  return endSection();
}

bool ParseHostPort(const std::string& text, std::string* host, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string h = text.substr(0, colon);
  if (h.front() == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    h = h.substr(1, h.size() - 2);
  } else if (h.find(':') != std::string::npos) {
    return false;  // a bare IPv6 address needs brackets
  }
  int64_t p = 0;
  if (!ParseNumber(text.substr(colon + 1), 0, 65535, &p)) return false;
  *host = h;
  *port = static_cast<uint16_t>(p);
  return true;
}

std::string ParseOrnpeOptions(const std::vector<std::string>& args, OrnpeOptions* out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out->help = true;
      continue;
    }
    const bool takesValue = a == "--listen" || a == "--gateway" || a == "--bbs-gateway" || a == "--dial" ||
                            a == "--ports" || a == "--retry-ms" || a == "--bbs" || a == "--log" || a == "--engine" || a == "--config";
    if (!takesValue) return "unknown option " + a;
    if (i + 1 >= args.size()) return a + " needs a value";
    const std::string& v = args[++i];
    int64_t n = 0;
    if (a == "--listen") {
      if (!ParseHostPort(v, &out->apiHost, &out->apiPort)) return "--listen wants HOST:PORT, not " + v;
    } else if (a == "--gateway") {
      if (!ParseHostPort(v, &out->gatewayHost, &out->gatewayPort)) return "--gateway wants HOST:PORT, not " + v;
    } else if (a == "--bbs-gateway") {
      std::string where = v;
      const size_t comma = where.rfind(',');
      out->bbsGatewayRaw = false;
      if (comma != std::string::npos && where.find(']', comma) == std::string::npos) {
        if (where.substr(comma + 1) != "raw") return "--bbs-gateway wants HOST:PORT or HOST:PORT,raw, not " + v;
        out->bbsGatewayRaw = true;
        where.resize(comma);
      }
      if (!ParseHostPort(where, &out->bbsGatewayHost, &out->bbsGatewayPort)) {
        return "--bbs-gateway wants HOST:PORT or HOST:PORT,raw, not " + v;
      }
      out->bbsGateway = true;
    } else if (a == "--dial") {
      DialTarget d;
      const std::string problem = ParseDial(v, &d);
      if (!problem.empty()) return problem;
      for (const DialTarget& other : out->dials) {
        if (other.call == d.call) return "--dial " + d.call + " is given twice";
      }
      out->dials.push_back(d);
    } else if (a == "--engine") {
      EngineTarget e;
      if (!ParseHostPort(v, &e.host, &e.port) || e.port == 0) return "--engine wants HOST:PORT, not " + v;
      out->engines.push_back(e);
    } else if (a == "--config") {
      // A directory opens as a stream and reads as nothing: an empty
      // configuration that no one asked for.
      std::error_code ec;
      if (!std::filesystem::is_regular_file(v, ec)) {
        return "--config: " + v + (std::filesystem::is_directory(v, ec) ? " is a directory" : " is not a file");
      }
      std::ifstream file(v, std::ios::binary);
      if (!file) return "--config: cannot read " + v;
      std::ostringstream text;
      text << file.rdbuf();
      if (file.bad()) return "--config: cannot read " + v;
      std::vector<std::string> more;
      std::string problem = ConfigArgs(text.str(), &more);
      if (problem.empty()) problem = ParseOrnpeOptions(more, out);
      if (!problem.empty()) return v + ": " + problem;
    } else if (a == "--ports") {
      if (!ParseNumber(v, 1, VirtualEngine::kMaxPorts, &n)) {
        return "--ports wants a number from 1 to " + std::to_string(VirtualEngine::kMaxPorts);
      }
      out->ports = static_cast<int>(n);
    } else if (a == "--retry-ms") {
      if (!ParseNumber(v, 1, 3600000, &n)) return "--retry-ms wants milliseconds from 1 to 3600000";
      out->retryMs = n;
    } else if (a == "--bbs") {
      const std::string call = AirForm(UpperAscii(v));
      if (!IsAirCall(call)) return "--bbs wants a callsign such as XX9ORN-1, not " + v;
      out->bbs = call;
    } else {
      if (v.empty()) return "--log wants a file name";
      out->logFile = v;
    }
  }
  return {};
}

std::string OrnpeUsage() {
  return "usage: ornpe [--listen HOST:PORT] [--gateway HOST:PORT] [--bbs-gateway HOST:PORT[,raw]]\n"
         "             [--dial CALL=HOST:PORT[,raw]]... [--ports N] [--retry-ms MS]\n"
         "             [--bbs CALL] [--log FILE] [--engine HOST:PORT]... [--config FILE]\n"
         "             [--help]\n"
         "A virtual packet engine: the engine TCP API with N virtual radio ports, and a\n"
         "station gateway where a terminal (telnet, nc) connects to the BBS as a station.\n"
         "  --listen HOST:PORT   engine TCP API (default 127.0.0.1:8000)\n"
         "  --gateway HOST:PORT  station gateway (default 127.0.0.1:6300)\n"
         "  --bbs-gateway HOST:PORT[,raw]\n"
         "                       station gateway for BBSes calling in: after the callsign\n"
         "                       every byte passes unchanged (default: none). Telnet, or\n"
         "                       raw TCP once the caller sends 0xFF and then another\n"
         "                       byte than 0xFF; ,raw takes every caller as raw TCP\n"
         "  --dial CALL=HOST:PORT[,raw]\n"
         "                       CALL is a station on every port; a connect to it opens a\n"
         "                       TCP connection to HOST:PORT (telnet, or ,raw for bytes as\n"
         "                       they are). Repeatable\n"
         "  --engine HOST:PORT   a real packet engine (Direwolf, a soundmodem, LinBPQ): its\n"
         "                       radio ports become ornpe's first ports, in --engine order,\n"
         "                       and ornpe's own ports follow them. Repeatable\n"
         "  --config FILE        the same settings from an ini file: [ornpe] listen, ports,\n"
         "                       retry-ms, bbs, log; [gateway] listen, bbs; [bbs-gateway]\n"
         "                       listen, raw; [engine NAME] address; [dial CALL] address, raw\n"
         "  --ports N            virtual radio ports, 1 to 16 (default 1)\n"
         "  --retry-ms MS        an unanswered connect gives up (RETRYOUT) after MS ms (default 5000)\n"
         "  --bbs CALL           the callsign gateway stations connect to (default: the\n"
         "                       longest-registered call on port 0)\n"
         "  --log FILE           activity log (default: standard error)\n"
         "Port 0 in HOST:PORT takes a free port. Once listening, ornpe prints\n"
         "\"ornpe ready api=HOST:PORT gateway=HOST:PORT [bbs-gateway=HOST:PORT]\"\n"
         "on standard output.\n";
}

}  // namespace orn
