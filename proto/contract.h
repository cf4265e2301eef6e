// The names both ends of the wire agree on, beside the message definitions
// of qfx31700.proto: the remote object, the metadata that carries the
// session, the port a server listens on unless told otherwise, and the form
// of a date on the wire. Plain C++: the server, the host kit and the tests
// read them from here and define none of them again. The methods' argument
// lists are in contract_methods.h, the packets' field lists in
// contract_packets.h.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace qfx::contract {

// The remote object every call names.
inline constexpr std::string_view kObjectName = "Qfx31700.rdmGeraNF";
// The call metadata that carries the session token.
inline constexpr std::string_view kSessionMetadata = "x-qfx-session";
// The call metadata that names one posting run, chosen by the client and kept
// by the server with the run's outcome: the same run asked again under it
// (its reply lost, its server gone) gets that outcome instead of a new run.
inline constexpr std::string_view kRunMetadata = "x-qfx-execucao";
inline constexpr size_t kRunIdMaxLength = 64;
// The reply's trailing metadata with what the operator needs beside a
// refusal's key or a message key (UTF-8; "-bin": gRPC carries it as bytes).
inline constexpr std::string_view kDetailsMetadata = "x-qfx-detalhes-bin";
// The application server's port unless configured otherwise.
inline constexpr int kDefaultPort = 50731;

// The kinds of import file (ImportaDados), in the order a client sends them:
// a row comes after the rows it names. A file's kind is the start of its
// name, up to the first character that is not a letter ("VENDA-0001.csv").
inline constexpr std::string_view kImportKinds[] = {"EMPRESA",   "FILIAL",  "PARAMFILIAL", "LOJA",         "CAIXA",
                                                    "TIPOCONS",  "CLIENTE", "CCUSCLIE",    "TIPORETI",     "SETOR",
                                                    "PARAVEND",  "PRODUTO", "PRODFILI",    "PRODTIPORETI", "PERIODOCTB",
                                                    "SALDOESTQ", "VENDA",   "REDUCAOZ",    "NFCE"};
// Bytes of a file in one message of the import's stream.
inline constexpr size_t kImportPieceBytes = 1u << 20;

// ---- dates ------------------------------------------------------------------------
//
// A date on the wire is a number of days since 1899-12-30 with the time of day
// as the fraction. Before the epoch the whole part counts the days backwards
// and the fraction still adds the time of day: -1.25 is 1899-12-29 06:00.
// Only years 100 to 9999 are dates.

inline constexpr std::chrono::year_month_day kEpoch{std::chrono::year(1899), std::chrono::month(12),
                                                    std::chrono::day(30)};
inline constexpr double kMinDays = -657434.0;       // 0100-01-01
inline constexpr double kMaxDays = 2958465.999999;  // 9999-12-31 23:59:59.999

struct WireMoment {
  std::chrono::year_month_day day;
  std::chrono::milliseconds timeOfDay{0};
};

bool isWireDate(double days);
// The day and time of a wire value; nothing outside the dates' range or for
// a value that is not a number.
std::optional<WireMoment> fromWire(double days);
double toWire(const std::chrono::year_month_day& day, std::chrono::milliseconds timeOfDay = {});

}  // namespace qfx::contract
