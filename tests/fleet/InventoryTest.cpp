// The inventory: RFC 4180 records, defaults for empty cells, every fault
// reported with its line number, device names that are safe file names.
#include <gtest/gtest.h>

#include <algorithm>

#include "fleet/Csv.h"
#include "fleet/Inventory.h"

namespace tarnwick::fleet {
namespace {

const std::string kHeader = "name,host,port,remote,password,delimiter\n";

TEST(Csv, QuotedFieldsCommentsAndLineNumbers) {
  CsvResult r = ParseCsv(
      "# comment\n"
      "a,\"b,c\",\"say \"\"hi\"\"\"\r\n"
      "\n"
      "\"multi\nline\",x,\n"
      "last,,");
  ASSERT_TRUE(r.error.empty()) << r.error;
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[0].line, 2);
  EXPECT_EQ(r.records[0].fields, (std::vector<std::string>{"a", "b,c", "say \"hi\""}));
  EXPECT_EQ(r.records[1].line, 4);
  EXPECT_EQ(r.records[1].fields, (std::vector<std::string>{"multi\nline", "x", ""}));
  EXPECT_EQ(r.records[2].line, 6);
  EXPECT_EQ(r.records[2].fields, (std::vector<std::string>{"last", "", ""}));
}

TEST(Csv, BrokenQuotingStopsWithItsLine) {
  struct Row {
    std::string text;
    int line;
  } rows[] = {
      {"a,b\nc,\"open\n\nnever closed", 2},
      {"a,b\nc,\"x\"y\n", 2},
      {"a,b\n\nc,x\"y\n", 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    CsvResult r = ParseCsv(row.text);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(r.errorLine, row.line);
  }
}

TEST(Inventory, EmptyCellsTakeTheCommandsDefaults) {
  DeviceDefaults defaults;
  defaults.port = "1069";
  defaults.delimiter = ";";
  defaults.timeoutMs = 250;
  defaults.retries = 2;
  Inventory inv = ParseInventory(
      "name,host,port,remote,password,delimiter,blksize,windowsize,timeout,retries\n"
      "r1,192.0.2.1,,startup.cfg,secret,,,,,\n"
      "r2,192.0.2.2,69,running.cfg,,:,1428,8,900,3\n",
      defaults);
  ASSERT_TRUE(inv.errors.empty()) << inv.errors[0].message;
  ASSERT_EQ(inv.devices.size(), 2u);
  const Device& a = inv.devices[0];
  EXPECT_EQ(a.line, 2);
  EXPECT_EQ(a.port, "1069");
  EXPECT_EQ(a.wireName, "startup.cfg;secret");
  EXPECT_FALSE(a.blockSize);
  EXPECT_FALSE(a.windowSize);
  EXPECT_EQ(a.timeoutMs, 250u);
  EXPECT_EQ(a.retries, 2);
  const Device& b = inv.devices[1];
  EXPECT_EQ(b.wireName, "running.cfg");  // no password: no delimiter either
  EXPECT_EQ(b.blockSize, 1428u);
  EXPECT_EQ(b.windowSize, 8u);
  EXPECT_EQ(b.timeoutMs, 900u);
  EXPECT_EQ(b.retries, 3);
  EXPECT_TRUE(inv.holdsPasswords);
}

TEST(Inventory, NamesAreConvertedToCp932WithThePassword) {
  Inventory inv = ParseInventory(kHeader + "sw,h,,設定.cfg,ぱす,/\n", {});
  ASSERT_TRUE(inv.errors.empty());
  EXPECT_EQ(inv.devices[0].wireName, "\x90\xdd\x92\xe8.cfg/\x82\xcf\x82\xb7");
}

TEST(Inventory, FaultsAreReportedWithTheirLineNumbers) {
  struct Row {
    std::string body;  // after the header (line 1)
    int line;
    std::string says;
  } rows[] = {
      {"a,h,69,f,p\n", 2, "5 fields"},
      {"#c\nok,h,,f,,\n../x,h,,f,,\n", 4, "'/'"},
      {"..,h,,f,,\n", 2, "not a file name"},
      {",h,,f,,\n", 2, "empty"},
      {".hidden,h,,f,,\n", 2, "starts with a dot"},
      {"a\\b,h,,f,,\n", 2, "'\\'"},
      {"c:x,h,,f,,\n", 2, "':'"},
      {"\"tab\there\",h,,f,,\n", 2, "control byte"},
      {"CON,h,,f,,\n", 2, "reserved"},
      {"lpt1.cfg,h,,f,,\n", 2, "reserved"},
      {"trail.,h,,f,,\n", 2, "ends with"},
      {std::string(101, 'n') + ",h,,f,,\n", 2, "longer than"},
      {"a,h,,f,,\nb,h,,f,,\nA,h,,f,,\n", 4, "twice"},
      {"a,,,f,,\n", 2, "no host"},
      {"a,h,70000,f,,\n", 2, "port"},
      {"a,h,x,f,,\n", 2, "port"},
      {"a,h,,,,\n", 2, "no remote"},
      {"a,h,,\xe2\x82\xac\xc3\xa9.cfg,,\n", 2, "cannot be written in CP932"},
      {"a,h,,f,,\n\"b\nc\",h,,f,,\n", 3, "control byte"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body);
    Inventory inv = ParseInventory(kHeader + row.body, {});
    ASSERT_EQ(inv.errors.size(), 1u);
    EXPECT_EQ(inv.errors[0].line, row.line);
    EXPECT_NE(inv.errors[0].message.find(row.says), std::string::npos) << inv.errors[0].message;
  }
}

TEST(Inventory, OptionColumnsOutOfRange) {
  const std::string header =
      "name,host,port,remote,password,delimiter,blksize,windowsize,timeout,retries,tsize,min_ratio,expect,"
      "push\n";
  struct Row {
    std::string cells;
    std::string says;
  } rows[] = {
      {"7,,,", "blksize"},          {"65465,,,", "blksize"},
      {",0,,", "windowsize"},       {",65536,,", "windowsize"},
      {",,0,", "timeout"},          {",,600001,", "timeout"},
      {",,,0", "retries"},          {",,,x", "retries"},
      {",,,,maybe,,", "tsize"},     {",,,,,1.5,", "min_ratio"},
      {",,,,,x,", "min_ratio"},     {",,,,,,(", "expect"},
      {",,,,,,(a)\\1", "expect"},  // a backreference cannot be matched in linear time
      {",,,,,,,a\x01-b", "push"},   {",,,,,,," + std::string(256, 'x'), "push"},
      {",,,,,,,sw[1].cfg", "push"}, {",,,,,,,\xff.cfg", "push"},  // only * and ?, UTF-8
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.cells);
    std::string cells = row.cells;
    while (std::count(cells.begin(), cells.end(), ',') < 7) cells += ',';
    Inventory inv = ParseInventory(header + "a,h,,f,,," + cells + "\n", {});
    ASSERT_EQ(inv.errors.size(), 1u);
    EXPECT_EQ(inv.errors[0].line, 2);
    EXPECT_EQ(inv.errors[0].message.rfind(row.says, 0), 0u) << inv.errors[0].message;
  }
  Inventory good = ParseInventory(header + "a,h,,f,,,8,65535,600000,100,no,0.25,^hostname ,\n", {});
  ASSERT_TRUE(good.errors.empty()) << good.errors[0].message;
  EXPECT_FALSE(good.devices[0].tsize);
  EXPECT_EQ(good.devices[0].minRatio, 0.25);
  EXPECT_TRUE(good.devices[0].expect);
}

// push: never (empty, no), yes (<name>.cfg), a name or glob; no remote: push-only; neither: a fault.
TEST(Inventory, PushColumn) {
  Inventory inv = ParseInventory(
      "name,host,port,remote,password,delimiter,push\na,h,,f,,,\nb,h,,f,,,No\nc,h,,,,,YES\nd,h,,f,,, d-*.cfg "
      "\ne,h,,,,,\n",
      {});
  ASSERT_EQ(inv.devices.size(), 5u);
  std::vector<std::string> pushes;
  for (const Device& d : inv.devices) pushes.push_back(d.push + (d.PushOnly() ? " only" : ""));
  EXPECT_EQ(pushes, (std::vector<std::string>{"", "", "c.cfg only", "d-*.cfg", ""}));
  ASSERT_EQ(inv.errors.size(), 1u);
  EXPECT_NE(inv.errors[0].message.find("\"e\" has no remote"), std::string::npos);
}

TEST(Inventory, HeaderFaults) {
  struct Row {
    std::string text;
    std::string says;
  } rows[] = {
      {"", "no header"},
      {"# only a comment\n", "no header"},
      {"name,host,port,remote,password\n", "no \"delimiter\""},
      {"name,host,port,remote,password,delimiter,name\n", "twice"},
      {"name,host,port,remote,password,delimiter\n", "no device"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    Inventory inv = ParseInventory(row.text, {});
    ASSERT_FALSE(inv.errors.empty());
    EXPECT_EQ(inv.errors[0].line, 1);
    EXPECT_NE(inv.errors[0].message.find(row.says), std::string::npos) << inv.errors[0].message;
  }
}

TEST(Inventory, AnUnconvertiblePasswordIsNeverQuoted) {
  Inventory inv = ParseInventory(kHeader + "a,h,,f.cfg,zq\xe2\x82\xaczq,\n", {});
  ASSERT_EQ(inv.errors.size(), 1u);
  EXPECT_EQ(inv.errors[0].message.find("zq"), std::string::npos) << inv.errors[0].message;
  EXPECT_NE(inv.errors[0].message.find("password"), std::string::npos);
}

// A CMDB export with extra columns and a few bad rows still runs: each bad
// row is its own device's failure, and a broken quote ends the readable
// part with one failure naming its line.
TEST(Inventory, FaultyRowsFailTheirDeviceOnly) {
  Inventory inv = ParseInventory(
      "name,site,host,port,remote,password,delimiter,model\n"
      "a,tokyo,h,,f,,,x\n../b,osaka,h,,f,,,y\nc,kobe,h,0,f,,,z\na,nara,h,,f,,,w\nd,kyoto,h,,f,,,\"v\n",
      {});
  EXPECT_TRUE(inv.usable);
  EXPECT_EQ(inv.warnings.size(), 2u);
  ASSERT_EQ(inv.devices.size(), 5u);
  EXPECT_EQ(inv.devices[0].fault, "");
  EXPECT_EQ(inv.devices[0].host, "h");
  EXPECT_NE(inv.devices[1].fault.find("'/'"), std::string::npos);
  EXPECT_NE(inv.devices[2].fault.find("port"), std::string::npos);
  EXPECT_NE(inv.devices[3].fault.find("twice"), std::string::npos);
  EXPECT_NE(inv.devices[4].fault.find("not read"), std::string::npos);
  EXPECT_EQ(inv.devices[4].line, 6);
}

TEST(Inventory, AllFaultsOfAFileAreCollected) {
  Inventory inv = ParseInventory(kHeader + "a,h,,f,,\n../b,h,,f,,\nc,h,0,f,,\na,h,,f,,\n", {});
  ASSERT_EQ(inv.errors.size(), 3u);
  EXPECT_EQ(inv.errors[0].line, 3);
  EXPECT_EQ(inv.errors[1].line, 4);
  EXPECT_EQ(inv.errors[2].line, 5);
}

TEST(DeviceName, PrintableEscapesControlBytes) {
  EXPECT_EQ(Printable("a\x1b[2Jb\\"), "a\\x1b[2Jb\\x5c");
  EXPECT_EQ(DeviceNameFault("core-sw01"), "");
  EXPECT_EQ(DeviceNameFault("拠点-01"), "");
  EXPECT_NE(DeviceNameFault("\xff\xfe"), "");
}

}  // namespace
}  // namespace tarnwick::fleet
