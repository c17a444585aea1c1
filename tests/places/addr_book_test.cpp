// The address book's list file (round trip in GBK, a file cut at every byte left untouched, the
// damaged copy kept when the list changed) and its cards (escaping, parsing, rewriting a pop-up).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "places/addr_book.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::ReadTestFile;
using test::TempDir;
using test::WriteTestFile;

std::vector<AddrBookRecord> TwoContacts() {
  std::vector<AddrBookRecord> r(2);
  r[0].name = "张三";
  r[0].contact = "青岛市市南区香港中路 8 号";
  r[0].picture = "/home/u/照片/zhang.jpg";
  r[0].group = "同事";
  r[0].note = "周一";
  r[1].name = "Li";
  r[1].contact = "13800000000";
  return r;
}

void ExpectSame(const std::vector<AddrBookRecord>& a, const std::vector<AddrBookRecord>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].name, b[i].name);
    EXPECT_EQ(a[i].contact, b[i].contact);
    EXPECT_EQ(a[i].picture, b[i].picture);
    EXPECT_EQ(a[i].group, b[i].group);
    EXPECT_EQ(a[i].note, b[i].note);
  }
}

TEST(AddrBookFile, RoundTripInGbkFieldOrderAndAtomicRewrite) {
  TempDir dir;
  CAddrBookFile file(dir.File("addrboook.dat"));
  auto records = TwoContacts();
  records[0].marked = 1;  // not stored
  ASSERT_TRUE(file.SaveOnClose(records, true));
  std::string bytes = ReadTestFile(file.Path());
  // u32 count, then name, contact, picture, group, note as GBK with a one-byte length.
  std::string want("\x02\0\0\0", 4);
  for (const std::string& s : {records[0].name, records[0].contact, records[0].picture, records[0].group,
                               records[0].note, records[1].name, records[1].contact, std::string(),
                               std::string(), std::string()}) {
    std::string gbk = Utf8ToAnsi(std::string_view(s));
    want += static_cast<char>(gbk.size());
    want += gbk;
  }
  EXPECT_EQ(bytes, want);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"addrboook.dat"});  // no temporary file left

  CAddrBookFile again(file.Path());
  std::vector<AddrBookRecord> read;
  ASSERT_EQ(again.Load(read), ArchiveLoad::kOk);
  ExpectSame(read, records);
  EXPECT_EQ(read[0].marked, 0u);

  // Unmodified: not rewritten; all entries gone: the file is deleted.
  auto before = std::filesystem::last_write_time(file.Path());
  EXPECT_TRUE(again.SaveOnClose(read, false));
  EXPECT_EQ(std::filesystem::last_write_time(file.Path()), before);
  EXPECT_TRUE(again.SaveOnClose({}, true));
  EXPECT_FALSE(std::filesystem::exists(file.Path()));
  std::vector<AddrBookRecord> none;
  EXPECT_EQ(again.Load(none), ArchiveLoad::kMissing);
  EXPECT_TRUE(none.empty());
}

TEST(AddrBookFile, CutAtEveryByteIsKeptUntouchedUnlessTheListChanged) {
  TempDir dir;
  std::string path = dir.File("addrboook.dat");
  auto whole = CAddrBookFile::Encode(TwoContacts());
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    std::string bytes(whole.begin(), whole.begin() + static_cast<long>(cut));
    WriteTestFile(path, bytes);
    CAddrBookFile file(path);
    std::vector<AddrBookRecord> read;
    ASSERT_EQ(file.Load(read), ArchiveLoad::kDamaged) << cut;
    EXPECT_TRUE(read.empty());
    // Closing the empty list it showed neither deletes nor rewrites the file.
    EXPECT_TRUE(file.SaveOnClose(read, false));
    ASSERT_EQ(ReadTestFile(path), bytes) << cut;
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
  }
  // A huge count with few bytes behind it and bytes after the last entry are damage too.
  std::string huge("\xff\xff\xff\x7f\0\0\0\0\0", 9);
  std::string trailing(whole.begin(), whole.end());
  trailing += "x";
  for (const std::string& bytes : {huge, trailing}) {
    WriteTestFile(path, bytes);
    CAddrBookFile file(path);
    std::vector<AddrBookRecord> read;
    EXPECT_EQ(file.Load(read), ArchiveLoad::kDamaged);
    EXPECT_TRUE(read.empty());
  }
  // The person added an entry to the list shown over a damaged file: the damaged bytes are kept.
  CAddrBookFile file(path);
  std::vector<AddrBookRecord> read;
  ASSERT_EQ(file.Load(read), ArchiveLoad::kDamaged);
  read.emplace_back("王五", "上海", "");
  ASSERT_TRUE(file.SaveOnClose(read, true));
  EXPECT_EQ(ReadTestFile(path + ".damaged"), trailing);
  std::vector<AddrBookRecord> back;
  ASSERT_EQ(CAddrBookFile(path).Load(back), ArchiveLoad::kOk);
  ExpectSame(back, read);
}

TEST(AddressCard, EscapedValuesSurviveFillAndParse) {
  AddrBookRecord plain("Zhang", "Qingdao", "/p/a.png");
  std::string card = FillAddressCard(plain);
  EXPECT_EQ(card,
            "<!ADDRBOOK><table><tr><td width=180 rowspan=2><!PIC><img width=180 src='/p/a.png'></td><td "
            "width=150><font color=#000000 size=7><!NAME>Zhang</font></td></tr><tr><td width=150><font "
            "color=#0000ff><!ADDR>Qingdao</font></td></tr></table>");

  AddrBookRecord hostile("<b>&'\"", "a<script>alert(1)</script>", "/p/it's.png");
  card = FillAddressCard(hostile);
  EXPECT_EQ(card.find("<script>"), std::string::npos);
  EXPECT_NE(card.find("<!NAME>&lt;b&gt;&amp;&#39;&quot;</font>"), std::string::npos);
  std::vector<AddrBookRecord> parsed;
  ASSERT_EQ(ParseAddressCard(card + "\r\n" + FillAddressCard(plain) + "\r\n", parsed), 2u);
  EXPECT_TRUE(parsed[0].SameCard(hostile));
  EXPECT_TRUE(parsed[1].SameCard(plain));
  EXPECT_EQ(HtmlUnescapeText("&apos;&amp;lt;&unknown;&"), "'&lt;&unknown;&");

  // An incomplete card ends the parse; the complete ones before it stay.
  std::string cut = card.substr(0, card.find("<!ADDR>") + 9);
  parsed.clear();
  EXPECT_EQ(ParseAddressCard(FillAddressCard(plain) + cut, parsed), 1u);
  EXPECT_EQ(ParseAddressCard("<!ADDRBOOK><table>", parsed), 0u);
}

TEST(AddressCard, UpdateCardsInText) {
  const std::string head = "<html><head><title>标注弹窗</title></head><body>";
  const std::string tail = "<p>尾</p></body></html>";
  AddrBookRecord a("A", "addr A", "a.png"), b("B", "addr B", "b.png"), c("C", "addr C", "c.png");
  AddrBookRecord x("张三", "北京", "z.png"), y("李四", "上海", "l.png"), z("王<五>", "广州", "w.png");

  // A head before the first card; three cards, two records: two rewritten, the third removed,
  // the HTML after it kept.
  std::string text = head + FillAddressCard(a) + "\r\n" + FillAddressCard(b) + "\r\n" + FillAddressCard(c) + "\r\n" + tail;
  ASSERT_TRUE(UpdateCardsInText(text, {x, y}));
  EXPECT_EQ(text, head + FillAddressCard(x) + "\r\n" + FillAddressCard(y) + "\r\n" + tail);

  // One card, three records: the card rewritten and two new cards, each after "\r\n".
  text = head + FillAddressCard(a) + tail;
  ASSERT_TRUE(UpdateCardsInText(text, {x, y, z}));
  EXPECT_EQ(text, head + FillAddressCard(x) + tail + "\r\n" + FillAddressCard(y) + "\r\n" + FillAddressCard(z));
  std::vector<AddrBookRecord> parsed;
  ASSERT_EQ(ParseAddressCard(text, parsed), 3u);
  EXPECT_TRUE(parsed[2].SameCard(z));

  // The same values again: nothing changes.
  std::string same = text;
  EXPECT_FALSE(UpdateCardsInText(same, {x, y, z}));
  EXPECT_EQ(same, text);

  // No records: only the cards go.
  text = head + FillAddressCard(a) + "\r\n" + FillAddressCard(b) + "\r\n" + tail;
  ASSERT_TRUE(UpdateCardsInText(text, {}));
  EXPECT_EQ(text, head + tail);

  // A card with a missing marker leaves the text as it was.
  std::string broken = head + FillAddressCard(a);
  broken.erase(broken.find("<!NAME>"), 7);
  std::string kept = broken;
  EXPECT_FALSE(UpdateCardsInText(broken, {x, y}));
  EXPECT_EQ(broken, kept);
}

}  // namespace
}  // namespace velmora
