#include "agent/database/row_batch.h"

#include <gtest/gtest.h>

namespace pelko::database {
namespace {

constexpr ValueType kTypes[] = {ValueType::kText, ValueType::kNumber, ValueType::kText};

struct Sent {
  std::string source;
  std::vector<SqlParam> params;
};

std::vector<Sent> SendAll(Engine engine, const std::vector<std::vector<SqlParam>>& rows) {
  std::vector<Sent> sent;
  RowBatch batch(engine, kTypes, [&](const std::string& source, const auto& params) {
    sent.push_back({source, params});
    return true;
  });
  for (const auto& row : rows) EXPECT_TRUE(batch.Add(row));
  EXPECT_TRUE(batch.Finish());
  return sent;
}

// Texts a user may name a document with reach the database byte for byte,
// whatever they hold that the batch's own syntax uses.
TEST(RowBatchTest, HostileTextsAreEscapedForEachEngine) {
  const std::vector<std::vector<SqlParam>> rows = {
      {SqlParam::Text("a\"b\\c,{}'"), SqlParam::Number(-7), SqlParam::TextOrNull("")},
      {SqlParam::Text("NULL"), SqlParam::NumberOrNull(std::nullopt),
       SqlParam::Text("t\tn\n\x01é")}};

  const auto pg = SendAll(Engine::kPostgreSql, rows);
  ASSERT_EQ(pg.size(), 1u);
  EXPECT_EQ(pg[0].source,
            "SELECT * FROM unnest(CAST(? AS text[]), CAST(? AS bigint[]), CAST(? AS text[]))");
  ASSERT_EQ(pg[0].params.size(), 3u);
  EXPECT_EQ(pg[0].params[0].text, R"({"a\"b\\c,{}'","NULL"})");
  EXPECT_EQ(pg[0].params[1].text, "{-7,NULL}");
  EXPECT_EQ(pg[0].params[2].text, "{NULL,\"t\tn\n\x01é\"}");

  const auto maria = SendAll(Engine::kMariaDb, rows);
  ASSERT_EQ(maria.size(), 1u);
  EXPECT_EQ(maria[0].source.rfind("SELECT * FROM JSON_TABLE(?, '$[*]' COLUMNS (c0 VARCHAR", 0), 0u);
  ASSERT_EQ(maria[0].params.size(), 1u);
  EXPECT_EQ(maria[0].params[0].text,
            R"([["a\"b\\c,{}'",-7,null],["NULL",null,"t\u0009n\u000a\u0001é"]])");
}

// SQL Server takes 2 100 parameters (512 rows of 3 values, 64 of a job
// row's 17), the rest in halves; the others take any number of rows, a
// megabyte a statement.
TEST(RowBatchTest, StatementsStayWithinWhatTheEngineTakes) {
  std::vector<std::vector<SqlParam>> rows(
      1200, {SqlParam::Text("x"), SqlParam::Number(1), SqlParam::Text("y")});
  std::vector<std::size_t> counts;
  for (const Sent& sent : SendAll(Engine::kSqlServer, rows))
    counts.push_back(sent.params.size() / 3);
  EXPECT_EQ(counts, (std::vector<std::size_t>{512, 512, 128, 32, 16}));
  EXPECT_EQ(MostRowsAtOnce(Engine::kSqlServer, 17), 64u);

  const std::string long_text(300 * 1024, 'd');
  std::vector<std::vector<SqlParam>> big(
      8, {SqlParam::Text(long_text), SqlParam::Number(1), SqlParam::Text("y")});
  for (Engine engine : {Engine::kPostgreSql, Engine::kMariaDb}) {
    const auto sent = SendAll(engine, big);
    ASSERT_EQ(sent.size(), 2u) << "four rows pass a megabyte";
    EXPECT_EQ(sent[1].params[0].text.back(), engine == Engine::kPostgreSql ? '}' : ']');
  }
}

}  // namespace
}  // namespace pelko::database
