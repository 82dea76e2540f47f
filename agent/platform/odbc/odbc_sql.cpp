// The SQL service over ODBC: one source for odbc32 and unixODBC. Texts
// beyond ASCII cross as UTF-16 (the W calls and SQL_C_WCHAR), so that
// neither the driver's nor the machine's code page can change a byte of
// them; ASCII, which every code page reads alike, crosses as it is.
#include "agent/platform/sql.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "agent/platform/odbc/bounded_sql.h"
#include "agent/platform/odbc/connection_text.h"
#include "agent/util/unicode.h"

namespace pelko {

namespace {

using WideText = std::basic_string<SQLWCHAR>;

WideText Wide(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return WideText(units.begin(), units.end());
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string Narrow(const SQLWCHAR* units, std::size_t count) {
  return Utf16ToUtf8(std::u16string(units, units + count));
}

// The first diagnostic record of handle: "SQLSTATE: message".
std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle, std::string* state) {
  SQLWCHAR sqlState[6] = {};
  SQLWCHAR message[1024] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  const SQLRETURN got = SQLGetDiagRecW(type, handle, 1, sqlState, &native, message,
                                       SQLSMALLINT(sizeof message / sizeof message[0]), &length);
  if (!SQL_SUCCEEDED(got)) {
    if (state) state->clear();
    return "no diagnostic from the driver";
  }
  const std::string code = Narrow(sqlState, 5);
  if (state) *state = code;
  const std::size_t shown =
      std::min<std::size_t>(length < 0 ? 0 : length, sizeof message / sizeof message[0] - 1);
  std::string text = Narrow(message, shown);
  // One line for the system log.
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return code + ": " + text;
}

class OdbcConnection : public SqlConnection {
 public:
  OdbcConnection(SQLHENV environment, SQLHDBC connection, uint32_t timeoutSeconds)
      : environment(environment), connection(connection), timeoutSeconds(timeoutSeconds) {}

  ~OdbcConnection() override {
    for (auto& [sql, statement] : statements) SQLFreeHandle(SQL_HANDLE_STMT, statement);
    SQLEndTran(SQL_HANDLE_DBC, connection, SQL_ROLLBACK);
    SQLDisconnect(connection);
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
  }

  bool Execute(std::string_view sql, const std::vector<SqlParam>& params,
               std::vector<SqlRow>* rows) override {
    SQLHSTMT statement = Prepared(sql);
    if (statement == SQL_NULL_HSTMT) return false;
    std::vector<WideText> texts(params.size());
    std::vector<SQLBIGINT> numbers(params.size());
    std::vector<SQLLEN> lengths(params.size());
    SQLFreeStmt(statement, SQL_RESET_PARAMS);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (!Bind(statement, i, params[i], &texts[i], &numbers[i], &lengths[i])) return false;
    }
    const SQLRETURN ran = SQLExecute(statement);
    if (!SQL_SUCCEEDED(ran) && ran != SQL_NO_DATA) return Fail(SQL_HANDLE_STMT, statement);
    const bool fetched = rows == nullptr || Fetch(statement, rows);
    SQLFreeStmt(statement, SQL_CLOSE);
    return fetched;
  }

  bool ExecuteLong(std::string_view sql, uint32_t seconds) override {
    SQLHSTMT statement = Prepared(sql);
    if (statement == SQL_NULL_HSTMT) return false;
    SetTimeout(statement, seconds);
    const bool ok = Execute(sql, {}, nullptr);
    SetTimeout(statement, timeoutSeconds);
    return ok;
  }

  bool Commit() override { return End(SQL_COMMIT); }
  bool Rollback() override { return End(SQL_ROLLBACK); }

  std::string ProductName() override {
    SQLWCHAR name[128] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(connection, SQL_DBMS_NAME, name, sizeof name, &length))) {
      return {};
    }
    return Narrow(name, std::min<std::size_t>(length / sizeof(SQLWCHAR), 127));
  }

  std::string LastError() const override { return lastError; }
  bool Lost() const override { return lost; }

 private:
  SQLHSTMT Prepared(std::string_view sql) {
    auto found = statements.find(std::string(sql));
    if (found != statements.end()) return found->second;
    SQLHSTMT statement = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement))) {
      Fail(SQL_HANDLE_DBC, connection);
      return SQL_NULL_HSTMT;
    }
    SetTimeout(statement, timeoutSeconds);
    WideText text = Wide(sql);
    if (!SQL_SUCCEEDED(SQLPrepareW(statement, text.data(), SQLINTEGER(text.size())))) {
      Fail(SQL_HANDLE_STMT, statement);
      SQLFreeHandle(SQL_HANDLE_STMT, statement);
      return SQL_NULL_HSTMT;
    }
    statements.emplace(std::string(sql), statement);
    return statement;
  }

  static void SetTimeout(SQLHSTMT statement, uint32_t seconds) {
    SQLSetStmtAttrW(statement, SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
  }

  bool Bind(SQLHSTMT statement, std::size_t index, const SqlParam& param, WideText* text,
            SQLBIGINT* number, SQLLEN* length) {
    const auto number1 = static_cast<SQLUSMALLINT>(index + 1);
    SQLRETURN bound;
    if (param.isText && IsAscii(param.text)) {
      // Bytes every code page reads alike: bound as they are, with neither
      // side converting them (a row batch is some megabyte of them).
      *length = static_cast<SQLLEN>(param.text.size());
      bound = SQLBindParameter(statement, number1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                               std::max<SQLULEN>(param.text.size(), 1), 0,
                               const_cast<char*>(param.text.c_str()), *length + 1, length);
    } else if (param.isText) {
      *text = Wide(param.text);
      *length = static_cast<SQLLEN>(text->size() * sizeof(SQLWCHAR));
      text->push_back(0);
      bound = SQLBindParameter(statement, number1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                               std::max<SQLULEN>(text->size() - 1, 1), 0, text->data(),
                               *length + sizeof(SQLWCHAR), length);
    } else {
      *number = param.number;
      *length = 0;
      bound = SQLBindParameter(statement, number1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                               number, 0, length);
    }
    if (param.isNull) *length = SQL_NULL_DATA;
    return SQL_SUCCEEDED(bound) || Fail(SQL_HANDLE_STMT, statement);
  }

  bool Fetch(SQLHSTMT statement, std::vector<SqlRow>* rows) {
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(statement, &columns))) {
      return Fail(SQL_HANDLE_STMT, statement);
    }
    std::vector<bool> numeric(static_cast<std::size_t>(std::max<SQLSMALLINT>(columns, 0)));
    for (SQLSMALLINT c = 0; c < columns; ++c) numeric[c] = IsNumber(statement, c + 1);
    for (;;) {
      const SQLRETURN got = SQLFetch(statement);
      if (got == SQL_NO_DATA) return true;
      if (!SQL_SUCCEEDED(got)) return Fail(SQL_HANDLE_STMT, statement);
      SqlRow row(columns);
      for (SQLSMALLINT c = 0; c < columns; ++c) {
        if (!(numeric[c] ? Number(statement, c + 1, &row[c]) : Column(statement, c + 1, &row[c]))) {
          return false;
        }
      }
      rows->push_back(std::move(row));
    }
  }

  // A column of whole or decimal numbers, whose digits are read as they
  // are: a driver's conversion of each to UTF-16 costs more than the rest
  // of a report of 500 000 sums.
  static bool IsNumber(SQLHSTMT statement, SQLUSMALLINT column) {
    SQLLEN type = 0;
    if (!SQL_SUCCEEDED(SQLColAttribute(statement, column, SQL_DESC_CONCISE_TYPE, nullptr, 0,
                                       nullptr, &type))) {
      return false;
    }
    switch (type) {
      case SQL_SMALLINT:
      case SQL_INTEGER:
      case SQL_BIGINT:
      case SQL_TINYINT:
      case SQL_DECIMAL:
      case SQL_NUMERIC:
        return true;
      default:
        return false;
    }
  }

  bool Number(SQLHSTMT statement, SQLUSMALLINT column, std::string* value) {
    char digits[80];
    SQLLEN length = 0;
    const SQLRETURN got = SQLGetData(statement, column, SQL_C_CHAR, digits, sizeof digits, &length);
    if (!SQL_SUCCEEDED(got)) return Fail(SQL_HANDLE_STMT, statement);
    if (length == SQL_NULL_DATA) {
      value->clear();
    } else {
      value->assign(digits, std::min<std::size_t>(std::strlen(digits), sizeof digits - 1));
    }
    return true;
  }

  // One column as text, read in pieces however long it is.
  bool Column(SQLHSTMT statement, SQLUSMALLINT column, std::string* value) {
    WideText text;
    SQLWCHAR piece[512];
    for (;;) {
      SQLLEN length = 0;
      const SQLRETURN got =
          SQLGetData(statement, column, SQL_C_WCHAR, piece, sizeof piece, &length);
      if (got == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(got)) return Fail(SQL_HANDLE_STMT, statement);
      if (length == SQL_NULL_DATA) break;
      const std::size_t room = sizeof piece / sizeof piece[0] - 1;
      const std::size_t units =
          length == SQL_NO_TOTAL || length / SQLLEN(sizeof(SQLWCHAR)) > SQLLEN(room)
              ? room
              : static_cast<std::size_t>(length) / sizeof(SQLWCHAR);
      text.append(piece, units);
      if (got == SQL_SUCCESS) break;
    }
    *value = Narrow(text.data(), text.size());
    return true;
  }

  bool End(SQLSMALLINT completion) {
    return SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, connection, completion)) ||
           Fail(SQL_HANDLE_DBC, connection);
  }

  bool Fail(SQLSMALLINT type, SQLHANDLE handle) {
    std::string state;
    lastError = Diagnostic(type, handle, &state);
    // Connection exceptions, timeouts, and a server shutting down.
    lost = state.rfind("08", 0) == 0 || state.rfind("HYT", 0) == 0 || state.rfind("57P", 0) == 0 ||
           state.empty();
    return false;
  }

  SQLHENV environment;
  SQLHDBC connection;
  uint32_t timeoutSeconds;
  std::map<std::string, SQLHSTMT, std::less<>> statements;
  std::string lastError;
  bool lost = false;
};

class OdbcConnector : public SqlConnector {
 public:
  std::unique_ptr<SqlConnection> Connect(const std::string& connectionText,
                                         const SealedPassword& sealed, uint32_t timeoutSeconds,
                                         std::string* error) override {
    if (AbandonedConnections() >= kMostAbandonedConnections) {
      *error = "HYT00: " + std::to_string(AbandonedConnections()) +
               " connections given up on still wait for the database";
      return nullptr;
    }
    std::string password;
    if (sealed.type != 0 && !OpenPassword("DatabasePassword", sealed, &password, error)) {
      return nullptr;
    }
    SQLHENV environment = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) {
      *error = "the ODBC driver manager cannot start";
      return nullptr;
    }
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
    SQLHDBC connection = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection))) {
      *error = Diagnostic(SQL_HANDLE_ENV, environment, nullptr);
      SQLFreeHandle(SQL_HANDLE_ENV, environment);
      return nullptr;
    }
    const auto timeout = reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds));
    SQLSetConnectAttrW(connection, SQL_ATTR_LOGIN_TIMEOUT, timeout, 0);
    SQLSetConnectAttrW(connection, SQL_ATTR_CONNECTION_TIMEOUT, timeout, 0);
    std::string text = ComposeConnection(connectionText, password);
    WideText wide = Wide(text);
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN connected =
        SQLDriverConnectW(connection, nullptr, wide.data(), SQLSMALLINT(wide.size()), out,
                          SQLSMALLINT(sizeof out / sizeof out[0]), &outLength, SQL_DRIVER_NOPROMPT);
    // The text held the password: gone from memory before anything else.
    std::fill(wide.begin(), wide.end(), SQLWCHAR(0));
    std::fill(text.begin(), text.end(), '\0');
    std::fill(password.begin(), password.end(), '\0');
    std::fill(std::begin(out), std::end(out), SQLWCHAR(0));
    if (!SQL_SUCCEEDED(connected)) {
      *error = Diagnostic(SQL_HANDLE_DBC, connection, nullptr);
      SQLFreeHandle(SQL_HANDLE_DBC, connection);
      SQLFreeHandle(SQL_HANDLE_ENV, environment);
      return nullptr;
    }
    if (!SQL_SUCCEEDED(SQLSetConnectAttrW(connection, SQL_ATTR_AUTOCOMMIT,
                                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
      *error = Diagnostic(SQL_HANDLE_DBC, connection, nullptr);
      SQLDisconnect(connection);
      SQLFreeHandle(SQL_HANDLE_DBC, connection);
      SQLFreeHandle(SQL_HANDLE_ENV, environment);
      return nullptr;
    }
    // The query timeout has the server give up; this bound holds when the
    // server cannot even do that.
    auto bounded =
        BoundCalls(std::make_unique<OdbcConnection>(environment, connection, timeoutSeconds),
                   (timeoutSeconds * 2 + 5) * 1000);
    if (!bounded) *error = "no thread can be started for the connection";
    return bounded;
  }
};

}  // namespace

void KeepDriverFilesPrivate() {
#ifndef _WIN32
  umask(077);
#endif
}

SqlConnector& PlatformSql() {
  static OdbcConnector connector;
  return connector;
}

}  // namespace pelko
