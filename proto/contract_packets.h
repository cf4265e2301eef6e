// The field lists of the data packets the server sends: name, type and size
// of every column, in the order the server writes them. The server builds
// its packets from these lists, the client defines its datasets from them
// (adding only how each field shows) and the tests script replies with them.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string_view>

#include "packet_codec.h"

namespace qfx::contract {

struct Field {
  std::string_view name;
  packet::FieldType type = packet::FieldType::Text;
  int size = 0;  // characters, text only
};

constexpr Field text(std::string_view name, int size) { return {name, packet::FieldType::Text, size}; }
constexpr Field dateTime(std::string_view name) { return {name, packet::FieldType::DateTime, 0}; }
constexpr Field number(std::string_view name) { return {name, packet::FieldType::Float, 0}; }

// The place of a field in its list; a name the list lacks does not compile.
template <std::size_t N>
consteval std::size_t indexOf(const std::array<Field, N>& fields, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i)
    if (fields[i].name == name) return i;
  throw std::out_of_range("field not in the list");
}

// A packet with these fields and no rows.
inline packet::Packet emptyPacket(std::span<const Field> fields) {
  std::vector<packet::FieldDef> defs;
  defs.reserve(fields.size());
  for (const Field& f : fields) defs.push_back({std::string(f.name), f.type, f.size});
  return packet::Packet(std::move(defs));
}

namespace fields {

// GetPrincipal: the sale items of the consolidation screen's list (cdsPrincipal).
inline constexpr std::array principal{
    text("CDFILIALEST", 4),   text("CDFILIAL", 4),      text("NRSEQVENDA", 10), text("CDCLIENTE", 21),
    text("CDCAIXA", 3),       dateTime("DTENTRVENDA"),  text("IDTIPOIMPV", 1),  text("NRLANCESTQ", 10),
    text("CDPRODUTO", 10),    text("NMPRODUTO", 50),    number("QTPRODVEND"),   number("VRUNITVEND"),
    number("TOTITEM"),        text("NRSEQUITVEND", 3),  number("VRDESITVEND"),  text("CDPRODESTO", 10),
    text("NMRAZSOCCLIE", 50), text("NRLANCTONF", 10),   text("CDLOJA", 10),     text("NRCUPOMFIS", 10),
    text("CDFILIALNF", 4),    text("NMCONSUMIDOR", 50), text("CDARVPROD", 20),  text("IDSITUVENDA", 1),
    text("IDTPFORPGVEN", 1)};

// GetVerifVenda: one row per register and day to check (cdsVerifVenda).
inline constexpr std::array registerDays{text("CDFILIAL", 4), text("CDCAIXA", 3), dateTime("DTENTRVENDA")};

// GetSoma: a register-day's net sales (cdsSoma).
inline constexpr std::array registerDaySales{text("CDFILIAL", 4), text("CDCAIXA", 3), dateTime("DTENTRVENDA"),
                                             number("TOTAL")};

// GetReducaoZ: a register-day's Z reduction (cdsReducaoZ).
inline constexpr std::array zReduction{number("VRVENLIQREDZ"), text("CDFILIAL", 4), text("CDCAIXA", 3),
                                       dateTime("DTREDUCAOZ")};

// GetParamFilial: the branch's stock flags (cdsParamFilial).
inline constexpr std::array branchParameters{text("IDUTILALMOX", 1),  text("IDUTILLCESTQ", 1), text("IDCTRLESTQ", 1),
                                             text("IDPERMESTNEG", 1), text("IDMENSESTNEG", 1), text("CDFILIAL", 4)};

// GetParamVend: the branch's sales parameters with the names of its default
// store, withdrawal type and sector (cdsParamVend).
inline constexpr std::array salesParameters{
    text("IDCONSUMIOBR", 1),  dateTime("DTINITESCONS"),   text("CDLOJA", 10),         text("NMLOJA", 50),
    text("IDATUEST", 1),      text("IDGERANFVENPROD", 1), text("IDBLOQCONSOLIDA", 1), text("CDTIPORETI", 2),
    text("NMTIPORETI", 40),   text("IDPERCONVESTNEG", 1), text("CDSETOR", 4),         text("NMSETOR", 30),
    text("CONSOIMPAJUS", 1),  text("IDUTILESTCENT", 1),   text("CDFILIESTCENT", 4),   text("CDALMOXESTCENT", 6),
    text("CDLOCALESTCENT", 6)};

// getTipoReti (cdsTipoReti) and getSetor (cdsSetor).
inline constexpr std::array withdrawalTypes{text("CDTIPORETI", 2), text("NMTIPORETI", 40)};
inline constexpr std::array sectors{text("CDSETOR", 4), text("SGSETOR", 10), text("NMSETOR", 30)};

// GetVendas: the sale picker's rows (cdsVendas); DTVENDA is the day as text.
inline constexpr std::array salesOfPeriod{text("IDMARCADO", 1),    text("CHAVE", 14),      text("CDCAIXA", 3),
                                          text("NRSEQVENDA", 10),  text("NRCUPOMFIS", 10), text("DTVENDA", 20),
                                          text("NMRAZSOCCLIE", 50)};

// GetProdutos: the product picker's rows (cdsProdutos).
inline constexpr std::array productsSold{text("IDMARCADO", 1), text("CDPRODUTO", 10), text("NMPRODUTO", 50)};

// SemGeraNF, element 0: the items that would leave stock negative
// (cdsErroConsolida): the error key, product, warehouse, location, the
// balance before the run, then what the run takes out of it and the balance
// it leaves (or would leave, when nothing is posted).
inline constexpr std::array postingErrors{text("CDERRO", 30),    text("CDOBJETO2", 60), text("CDOBJETO3", 20),
                                          text("CDOBJETO4", 20), number("CDOBJETO5"),   number("QTLANCESTQ"),
                                          number("QTSALDOFINAL")};

// SemGeraNF, element 2: inactive or unregistered products (cdsProdBloq), and
// why each one blocks: one letter per reason, "N" no product register at all,
// "I" inactive, "F" not registered for the branch.
inline constexpr std::array blockedProducts{text("CDPRODUTO", 10), text("NMPRODUTO", 50), text("IDMOTIVOBLOQ", 2)};

// GetConsolidacoes: the branch's runs, one row per stock posting
// (cdsConsolidacoes): its key, day, operator, store, withdrawal type and
// sector, items and value from its fiscal-note entry, and, once reversed,
// the reversing posting, who reversed it, when and why.
inline constexpr std::array consolidationRuns{text("CDFILIAL", 4),
                                              text("NRLANCESTQ", 10),
                                              dateTime("DTLANCESTQ"),
                                              text("CDOPERADOR", 20),
                                              text("CDLOJA", 10),
                                              text("CDTIPORETI", 2),
                                              text("CDSETOR", 4),
                                              number("QTITENS"),
                                              number("VRTOTLANCTONF"),
                                              text("CDFILIALNF", 4),
                                              text("NRLANCTONF", 10),
                                              dateTime("DTINCLUSAO"),
                                              text("NRLANCESTQESTORNO", 10),
                                              text("CDOPERESTORNO", 20),
                                              dateTime("DTESTORNO"),
                                              text("DSMOTIVOESTORNO", 200)};

}  // namespace fields

// The letters of the blocked products' IDMOTIVOBLOQ.
inline constexpr char kBlockedUnknown = 'N';
inline constexpr char kBlockedInactive = 'I';
inline constexpr char kBlockedNotInBranch = 'F';

}  // namespace qfx::contract
