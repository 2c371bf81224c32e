#include "sregex_corpus.h"

#include "com/sregex.h"

#include <cstring>
#include <set>
#include <utility>

namespace sregex_corpus {
namespace {

constexpr unsigned E = SREGEX_MULTILINE;  // expect arrays
constexpr unsigned IC = SREGEX_ICASE;

struct Array {
  const char* module;
  const char* array;
  unsigned mode;
  std::vector<const char*> patterns;
};

const std::vector<Array>& arrays() {
  static const std::vector<Array> all = {
      // Brocade
      {"brocade", "exp_login", E, {"login", ".*Firewall.*"}},
      {"brocade", "exp_pw", E, {"Password"}},
      {"brocade", "exp_prompt", E, {".*>", ".*incorrect.*", "change your password"}},
      {"brocade", "exp_version", E, {".*>", "Fabric OS:.*", "BootProm:.*"}},
      {"brocade", "exp_fwshow", E, {".*>", "Primary [Pp]artition:.*", "Secondary [Pp]artition:.*"}},
      {"brocade", "exp_download", E,
       {".*install packages", "Cannot download .*", "Another .* in progress", ".*BadRootDev.*",
        "ping: unknown host.*", "sendto: Invalid argument", "Firmwaredownload failed.*", "Error: .*",
        ".*want to continue.*"}},
      {"brocade", "exp_dlcomp", E,
       {"Firmwaredownload.*successfully", "Firmware has been downloaded.*", "Removing .* files.*", "Please avoid.*",
        "Write .* flash", "\\.", ".*SUCCEEDED", "^[\\s]*#+", "[\\S-]+", "\r", "Error:.*"}},
      {"brocade", "exp_rmcomp", E, {"Finished removing.*"}},
      {"brocade", "exp_boot", E, {"The system is going down .*"}},
      // Cisco IOS
      {"cisco", "exp_user1", E, {"Username", ".*>", ".*Firewall.*", "Password:.*"}},
      {"cisco", "exp_pw", E, {"Password", "invalid"}},
      {"cisco", "exp_prompt", E, {".*#", ".*>", "invalid", "Password:.*"}},
      {"cisco", "exp_version", E, {".*#", ".*CIGESM Software.*", ".*System image file.*", "--More--"}},
      {"cisco", "exp_image", E,
       {"image installed", ".*images installed.*", "Loading .*", "!", "extracting .*", "Unable.*", "Extracting files",
        "Installing.*", ".*\\(Invalid.*hostname\\)", ".*\\(Protocol error\\)", ".*\\(Timed out\\)",
        ".*\\(No such file.*\\)", ".*\\(No such user\\)", "%.*", "ERROR:.*"}},
      {"cisco", "exp_confirm", E, {"confirm"}},
      // Nortel
      {"nortel", "exp_user", E, {"password", "username", ".*Firewall.*", "Server end shut down", "Too many.*connections"}},
      {"nortel", "exp_pw", E,
       {".* incorrect", "Layer 2-7 Gigabit Ethernet.*", ".* Layer2-3 GbE.*", "Veltra Server Connectivity.*",
        ".*10Gb Uplink Ethernet.*", ".*10Gb Ethernet.*", "Rackmont OFM.*"}},
      {"nortel", "exp_prompt1", E, {".*Main#", ".*Set Up.*configure.*"}},
      {"nortel", "exp_sysinfo", E,
       {"System#", ".* Layer 2-7 Gigabit.*", ".* Layer2-3 GbE.*", "Veltra Server Connectivity.*", ".* 10Gb Uplink.*",
        ".* 10Gb Ethernet.*", "Software Version.*", "Press q to quit.*", "NormalConnect", "SmartConnect",
        "Rackmont OFM.*"}},
      {"nortel", "exp_curboot", E,
       {"Boot Options#", "image1:.*", "image2:.*", "boot kernel:.*", "NormalConnect", "SmartConnect", "Rackmont OFM.*",
        "Currently set to boot.*"}},
      {"nortel", "exp_prompt", E, {"#"}},
      {"nortel", "exp_confirm", E,
       {"Confirm reset", "Confirm operation without saving changes.*", "Confirm operation without applying changes"}},
      {"nortel", "exp_osgtimg", E,
       {"Enter .* FTP .* TFTP", "Enter name of file", ".* port.*download.*", "Confirm download.*", "Error: bad IP address"}},
      {"nortel", "exp_ospw", E, {"Enter password .*"}},
      {"nortel", "exp_osyes", E,
       {"Starting download", "Connecting to .*", "Error: Host not found", "Error initiating transfer",
        "Error: DNS lookup failure"}},
      {"nortel", "exp_osvalid", E,
       {".* download complete", ".*file layout is different.*", ".*continue with download.*", "You are about to save.*",
        "Confirm save.*", "ERROR:  File.*not found", "Error: File not found", "Failed to open file",
        "ERROR:  File.*is not.*", "Error: You.*corrupted", "Login incorrect", "Error: DNS lookup failure",
        "Error: Host not found", "Error: [Tt]imeout", "ERROR:  Timeout.*respond", "Connection timeout",
        "Error: Illegal operation", "ERROR:  Internal code 0", "Error: Successful", "ERROR.*", "Error.*"}},
      {"nortel", "exp_osflver", E, {"successful", "Error.*"}},
      {"nortel", "exp_osswimg", E, {".*#", ".*change that to the.*", ".*reboot the switch.*"}},
      {"nortel", "exp_bootflver", E, {".*#", "Boot image .* download complete", ".*Boot image rejected"}},
      {"nortel", "exp_sysinfo2", E, {"System#", "FLASH image0.*", "FLASH image1", "FLASH image2", "Press q to quit.*"}},
      {"nortel", "exp_model", E,
       {"Layer 2-7 Gigabit Ethernet.*", ".* Layer2-3 GbE.*", "Veltra Server Connectivity.*", ".* 1/10Gb Uplink.*",
        ".* 10Gb Uplink.*", ".* 10Gb Ethernet.*", "Press q to quit.*"}},
      {"nortel", "exp_ping", E, {".*host .* max tries .*", ".* ok, RTT.*", ".* timed out", "Ping finished", ">>.*#"}},
      {"nortel", "exp_cur", E, {"image1:.*", "image2:.*", "boot kernel:.*", "#"}},
      {"nortel", "update (kind)", IC, {"b(oo)?t"}},
      // Cisco FC
      {"ciscofc", "exp_user", E, {".*login", ".*Firewall.*"}},
      {"ciscofc", "exp_pw", E, {"Password", "invalid"}},
      {"ciscofc", "exp_prompt", E, {".*#", "Login incorrect"}},
      {"ciscofc", "exp_showvers", E,
       {".*#", "Cisco Storage.*", "BIOS: .*", "kickstart: .*", "system: .*", "kickstart.*file.*", "system.*file.*",
        "--More--"}},
      {"ciscofc", "exp_showboot", E, {".*#", "kickstart.*", "system.*"}},
      {"ciscofc", "exp_oscd", E, {".*#", "Invalid directory", "% invalid parameter"}},
      {"ciscofc", "exp_osdir", E,
       {".*#", "[\\S]+-kickstart-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?", ".*dplug.*\\.bin", "lc3_boot.nbi",
        "[\\S]+-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?"}},
      {"ciscofc", "exp_oscopy", E,
       {"\b[-\\|/]", ".*#", "Enter username:", "Password:", ".*operation was successful", ".*File not found",
        ".*No such file or directory", ".*name resolution", ".*Connection refused", ".*Could not connect.*",
        ".*Invalid argument.*", ".*Permission denied", ".*Network is unreachable", ".*operation failed.*",
        "Failed to open file", "Authentication failed"}},
      {"ciscofc", "exp_osinstall", E,
       {"Verifying image .*", "Extracting .*", "Compatibility check is done.*", "Images will be upgraded .*",
        "continue with the installation.*", "Install is in progress", "Notifying.*", "Setting.*", "Performing.*",
        "Freeing.*", "Loading.*", "Saving.*", "Module [0-9]+: .*", "Install has been successful",
        "Rebooting the switch.*", "Compatibility check failed.*"}},
      {"ciscofc", "exp_reload", E, {"reboot the system\\. (y/n)?"}},
      {"ciscofc", "update (kind)", IC, {"kickstart"}},
      // QLogic and McData
      {"qlogic", "exp_user1", E, {"[Ll]ogin", ".*Firewall.*"}},
      {"qlogic", "exp_pw", E, {"Password", "incorrect"}},
      {"qlogic", "exp_prompt (login)", E, {"admin> ", "Login incorrect", "Timed out.*"}},
      {"qlogic", "exp_version", E, {"> $", "SystemDescription.*", "ActiveSWVersion.*"}},
      {"qlogic", "exp_admin", E, {".*\\(admin\\):.*> ", "already in Admin Mode"}},
      {"qlogic", "exp_confcancel", E, {"Please confirm \\(y/n\\):"}},
      {"qlogic", "exp_prompt", E, {".*:.*> "}},
      {"qlogic", "exp_fetch", E,
       {".*\\(admin\\):.*> ", "Password:", "ftp:.*", "ftp>", ".*cannot find the .*", "TFTP transfer failed.*"}},
      {"qlogic", "exp_adprompt2", E,
       {".*\\(admin\\):.*> ", "Login failed", "Failed.*", "ftp>", ".*cannot find the .*", "TFTP transfer failed.*"}},
      {"qlogic", "exp_unpack", E,
       {"switch reset", "file does not exist", "Error executing command", ".*name resolution", ".*BadSize",
        ".*CorruptImage.*", "[Ww]rong .* image", ".*I/OError"}},
      {"qlogic", "exp_fetch (at the line's start)", E, {"^ftp:.*", "^ftp>"}},
      {"qlogic", "exp_unpack (echo, any line)", E, {"^image unpack [\\S]+[\\s]*$", ".+"}},
      {"qlogic", "exp_reset", E, {"Please confirm", ".*requires admin mode.*"}},
      {"qlogic", "exp_resetconf", E, {"Reset switch in progress"}},
      // Intel
      {"intel", "exp_user1", E, {"User:", ".*Firewall.*"}},
      {"intel", "exp_pw", E, {"Password:", "User:"}},
      {"intel", "exp_inventory", E, {"\\(.*\\) >", "System Description.*", "Software Version.*"}},
      {"intel", "exp_ping", E, {".* Receive count=3 .*", ".* Receive count=0 .*", "Incorrect input", "\\(.*\\) >"}},
      {"intel", "exp_trdl", E, {"\\(.*\\) transfer download>", "Incorrect input! .*"}},
      {"intel", "exp_start", E, {"Are you sure you want to start?", "Transfer .* by another user"}},
      {"intel", "exp_download", E,
       {"TFTP code transfer starting", "Verifying CRC of file", "TFTP receive complete.*", ".*completed successfully",
        "TFTP MCU code download .*", "File transfer failed", "8051 MCU code transfer failed", "File failed CRC check",
        "Error:.*"}},
      {"intel", "exp_trans", E, {"\\(.*\\) transfer>"}},
      {"intel", "exp_changes", E,
       {".*unsaved changes", ".*save them now.*", "Configuration Saved", "System will now restart"}},
      // Veltra
      {"veltra", "exp_user", E, {"Username", "Too many users", ".*Firewall.*"}},
      {"veltra", "exp_mainmenu", E, {".* - Main Menu", "Access denied"}},
      {"veltra", "exp_sysinfo", E, {"Boot PROM Version:.*"}},
      {"veltra", "exp_upgrade", E, {"Upgrade.*Server"}},
      {"veltra", "exp_servip", E, {"Server IP Address"}},
      {"veltra", "exp_file", E, {"Specify the complete path and file name"}},
      {"veltra", "exp_dlcommit", E, {"NVRAM", "Yes", "/n"}},
      {"veltra", "exp_download", E,
       {"Erasing FLASH", "Incorrect Image", "ait", "Server Not Found", "File not found", "issing", "irectory",
        "Permission denied", "iolation", "[\\d]+%"}},
      {"veltra", "exp_writing", E, {"Writing FLASH"}},
      {"veltra", "exp_complete", E, {"Upgrading.*completed"}},
      {"veltra", "logConfigInfo (versions)", 0, {"[\\d]+\\.[\\d]+\\.[\\d]+ +[\\d]+\\.[\\d]+\\.[\\d]+"}},
      // SAS
      {"sas", "exp_user1", E, {"Login:", ".*Firewall.*"}},
      {"sas", "exp_pw", E, {"Password:", "Login:"}},
      {"sas", "exp_prompt", E, {"MAIN>", "Login:"}},
      {"sas", "exp_version", E, {"MAIN>", "Firmware Version.*"}},
      {"sas", "exp_target", E, {"SM1>", "SM2>", "SM[12] is not installed.", "Unknown Target Module.*", "MAIN>"}},
      {"sas", "exp_stat", E, {"SM1>", "SM2>", "Firmware Revision:.*"}},
      {"sas", "exp_start", E,
       {"Do you want to start firmware download?.*", "Do you want to start SM firmware download?.*",
        "Are you sure you.*to install this firmware?.*", "SM[12] is not installed.", "TFTP Client is busy.*"}},
      {"sas", "exp_download", E,
       {".*Entire firmware image has been received successfully.", "Progress:.*", "Erasing completed.",
        "Connection has established successfully.", ".*bytes received.*",
        "TFTP Client - No response from TFTP Server. TFTP Session terminated.", ".*File not found.*",
        "Bad Firmware file!", ".*Permission denied.*", "SSP command aborted", "SM FW Download failed.*",
        "TFTP Client: Terminating.*", "FW Download failure", "Please enter ANY key to return to CLI command prompt"}},
      {"sas", "exp_promptErr", E, {"MAIN>", ".*All data received.*"}},
      // Topspin
      {"topspin", "exp_user1", E, {"login", ".*Firewall.*"}},
      {"topspin", "exp_pw", E, {"Password"}},
      {"topspin", "exp_prompt", E, {".*# $", ".*> $", ".*login", "Change your password"}},
      {"topspin", "exp_pwnoch", E, {"Password was not changed.*"}},
      {"topspin", "exp_showboot2", E, {".*> $", ".*# $", "sw-version :.*", "primary-image-source :.*"}},
      {"topspin", "exp_showcard", E, {".*> $", ".*# $", "image :.*", "Press any key.*"}},
      {"topspin", "exp_dirimg1", E, {"[\\S]+\\.img", ".*# $"}},
      {"topspin", "exp_delimg", E, {"\\*", "Delete file", ".*# $"}},
      {"topspin", "exp_copy", E,
       {".*successfully", "\\*", ".*%", "Error: FTP server not reachable", "Error: Invalid image file name",
        "Error: Incorrect Username.*", "Error: No Such file.*", "Error: Operation failed", "Error: .*"}},
      {"topspin", "exp_copy (echo, whole lines)", E, {"^copy [\\S]+ image:[\\S]+[\\s]*$", ".*%.*", ".+"}},
      {"topspin", "exp_install (echo)", E, {"^install image:[\\S]+[\\s]*$"}},
      {"topspin", "exp_showboot", E, {"primary-image-source.*", "Error: .*"}},
      {"topspin", "exp_install", E, {"\\*", "Proceed.*", ".*# $", "Error: Problem unpacking.*", "Error:.*"}},
      {"topspin", "exp_dirimg2", E, {"[\\S]*/[\\S]*", ".*# $"}},
      {"topspin", "exp_bconfig", E, {".*# $", "Error:.*"}},
      {"topspin", "exp_ping", E,
       {"Success rate is 100 percent", "Success rate is .* percent", "unknown host", ".*> $", ".*# $"}},
      {"topspin", "exp_reload", E, {"Save.*", "Proceed.*", "Error.*"}},
      {"topspin", "update (image name)", 0, {"TopspinOS-.*-build[\\d]+\\.img"}},
      // IB bridge
      {"ibbridge", "exp_user", E, {"username->", ".*system is engaged", ".*Firewall.*"}},
      {"ibbridge", "exp_pw", E, {"password->", "Invalid.*"}},
      {"ibbridge", "exp_prompt", E, {"->", "Invalid.*", "Use Control-C to exit", "\\(new\\) password:"}},
      {"ibbridge", "exp_prompt2", E, {"->", "\\(new\\) password:", "confirm the new password:"}},
      {"ibbridge", "exp_version", E,
       {"->", "Product Name.*", "Firmware Version.*", "Bootrom Version:.*", "Firmware Version:.*"}},
      {"ibbridge", "exp_fwupdate", E,
       {"->", "Initiating firmware update", "md5 values", "Firmware update .* successfully", "Flash write completed.*",
        "Percent complete: [\\d]+", ".*cannot find the file.*", ".*not a package image file", "User .* cannot log in",
        "FTP File transfer failed"}},
      {"ibbridge", "exp_fwupdate (echo, to the line's end)", E,
       {"^fwUpdate [\\S]+ [\\S]+ [\\S]+ [\\S]+ [\\S]+[\\s]*$", "Initiating firmware update.*", "md5 values.*",
        "Firmware update .* successfully.*", "Percent complete: [\\d]+.*"}},
  };
  return all;
}

}  // namespace

const std::vector<ModulePattern>& module_patterns() {
  static const std::vector<ModulePattern> list = [] {
    std::vector<ModulePattern> out;
    std::set<std::pair<std::string, unsigned>> seen;
    for (const Array& a : arrays()) {
      for (const char* p : a.patterns) {
        if (seen.insert({p, a.mode}).second) out.push_back({a.module, a.array, p, a.mode});
      }
    }
    return out;
  }();
  return list;
}

const std::vector<std::string>& console_lines() {
  static const std::vector<std::string> lines = {
      "Fabric OS (swd77)  login: admin   Last login: Mon Jan 12 10:22:31 2009 from 10.1.1.5",
      "swd77:admin> firmwaredownload -s 10.10.0.5,anonymous,/pub/v6.1.0c,anonymous",
      "Checking system settings for firmwaredownload...   Server IP: 10.10.0.5, Protocol IPv4",
      "Cisco IOS Software, CIGESM Software (CIGESM-I6Q4L2-M), Version 12.2(25)SEF3, RELEASE SOFTWARE (fc2)",
      "System image file is \"flash:/cigesm-i6q4l2-mz.122-25.SEF3/cigesm-i6q4l2-mz.122-25.SEF3.bin\"",
      "Loading cigesm-i6q4l2-tar.122-25.SEF3.tar from 10.10.0.5 (via Vlan1): !!!!!!!!!!!!!!!!!!!!",
      "%Error opening tftp://10.10.0.5/cigesm-i6q4l2-tar.122-25.SEF3.tar (Timed out)",
      "Layer 2-7 Gigabit Ethernet Switch Module for the blade chassis, rev 3",
      "Software Version 1.2.3 (FLASH image2), factory default configuration.",
      "bootflash:  m9100-s1ek9-kickstart-mz.3.2.1a.bin  m9100-s1ek9-mz.3.2.1a.bin  lc3_boot.nbi",
      "Copy complete, now saving to disk (please wait)... the operation was successful",
      "Module 1: Refreshing compact flash and upgrading bios/loader/bootrom. Please wait.",
      "SANbox2 #> admin start      SANbox2 (admin) #> image fetch anonymous 10.10.0.5 fw.bin",
      "(Intel ESM) transfer download>serverip 10.10.0.5   Incorrect input! Use 'help' for more",
      "TFTP receive complete... storing in Flash File System... Verifying CRC of file",
      "  Boot PROM Version: 1.0.12    Firmware Version : 2.4.17   Build date Jan 2006  ",
      "Progress: 45% - 1048576 bytes received of 2330112, Connection has established successfully.",
      "Topspin-360# copy ftp://user:pw@10.10.0.5/TopspinOS-2.3.0-build123.img image:",
      "TopspinOS-2.3.0/build123       primary-image-source : TopspinOS-2.2.0/build496",
      "->fwUpdate 10.10.0.5 anonymous \"\" /pub bridge-fw.pkg   Initiating firmware update",
      "Percent complete: 87   Flash write completed successfully; md5 values verified",
      "Enter name of file on FTP/TFTP server: GbESM-AOS-20.1.1.0_OS.img  Connecting to 10.10.0.5",
      "ping 10.10.0.5: host 10.10.0.5 max tries 4: 64 bytes ok, RTT 1 msec   Ping finished.",
      "Another firmwaredownload is in progress. Please wait and try again later (error 12)",
  };
  return lines;
}

std::string sample_match(const char* pattern) {
  std::string out;
  std::string current = pattern;
  while (!current.empty()) {
    char token[SREGEX_TOKEN_SIZE];
    char rest[SREGEX_TOKEN_SIZE];
    const int type = next_token(current.c_str(), token, sizeof token, rest, sizeof rest);
    if (type <= 0) break;
    const bool repeated = type == ZERO_ONE || type == ZERO_MORE || type == ONE_MORE;
    std::string element = token;
    const std::string next = rest;
    int kind = type;
    if (repeated) {
      element.pop_back();
      kind = next_token(element.c_str(), token, sizeof token, rest, sizeof rest);
    }
    current = next;
    if (type == ZERO_ONE || type == ZERO_MORE) continue;  // no iteration
    if (kind == CHARSEQ) {
      char normal[SREGEX_TOKEN_SIZE];
      normalize_literal(element.c_str(), normal, sizeof normal, 0);
      out += normal;
    } else if (kind == CHARCLASS) {
      ClassTable table;
      build_class(element.c_str(), table, 0);
      const char* preferred = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-_:/";
      for (const char* c = preferred; *c != '\0'; ++c) {
        if (table[static_cast<unsigned char>(*c)]) {
          out += *c;
          break;
        }
      }
    } else if (kind == GROUP) {
      out += sample_match(element.substr(1, element.size() - 2).c_str());
    }
  }
  return out;
}

}  // namespace sregex_corpus
