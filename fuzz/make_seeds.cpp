// Writes the seed corpora of the fuzzers from real messages:
//   fuzz_seeds <folder>   (normally fuzz/corpus)
// packet_fuzzer: reply streams whose packets come from encodeChunks, with
// nulls, accented texts, dates and chunk boundaries, plus damaged replies;
// invoke_fuzzer: requests for every method on the demo data, good and bad;
// list_text_fuzzer: a key and a list text (see list_text_fuzzer.cpp).
#include <QDate>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "common/wire_date.h"
#include "reply_stream.h"
#include <proto/contract_methods.h>
#include <proto/packet_codec.h>
#include <proto/qfx31700.pb.h>

using namespace qfx;
using packet::FieldType;

namespace {

std::filesystem::path root;
int written = 0;

void save(const std::string& fuzzer, const std::string& name, const std::string& bytes) {
  const auto dir = root / fuzzer;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  ++written;
}

double day(int y, int m, int d) { return server::wiredate::fromDate(QDate(y, m, d)); }

// ---- packet_fuzzer ----------------------------------------------------------

// Sale items as the sales list shows them: a null customer, accented names,
// entry moments with the time of day, returns with negative quantities.
packet::Packet saleItems(int rows) {
  packet::Packet p({{"CDFILIAL", FieldType::Text, 4},
                    {"NRSEQVENDA", FieldType::Text, 10},
                    {"CDCLIENTE", FieldType::Text, 21},
                    {"DTENTRVENDA", FieldType::DateTime, 0},
                    {"NMPRODUTO", FieldType::Text, 50},
                    {"QTPRODVEND", FieldType::Float, 0},
                    {"NRITENS", FieldType::Integer, 0},
                    {"CONSOLIDADO", FieldType::Boolean, 0}});
  const char* names[] = {"Feijão carioca 1 kg", "Pão francês", "Café coado", "Açaí 500 ml", "Água sem gás"};
  for (int r = 0; r < rows; ++r) {
    auto& c = p.columns;
    c[0].appendText("0001");
    c[1].appendText("000000000" + std::to_string(r % 10));
    if (r % 3 == 1)
      c[2].appendNull();
    else
      c[2].appendText("00000" + std::to_string(r % 10));
    c[3].appendNumber(day(2024, 3, 10) + (r * 37 % 1440) / 1440.0);
    c[4].appendText(names[r % 5]);
    c[5].appendNumber(r % 4 == 3 ? -1.5 : 2.25 * r);
    if (r % 5 == 4)
      c[6].appendNull();
    else
      c[6].appendInteger(r - 3);
    c[7].appendBoolean(r % 2 == 0);
  }
  return p;
}

// The reply as the service streams it: the first message carries the result,
// the chunks follow, several to a message up to `perMessage`.
std::vector<rpc::InvokeReply> replyOf(const rpc::Value& result, const std::vector<packet::Packet>& packets,
                                      size_t chunkBytes, int perMessage) {
  std::vector<rpc::InvokeReply> messages(1);
  *messages[0].mutable_result() = result;
  int inMessage = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    packet::encodeChunks(packets[i], uint32_t(i + 1), chunkBytes, [&](rpc::PacketChunk&& chunk) {
      if (inMessage == perMessage) {
        messages.emplace_back();
        inMessage = 0;
      }
      *messages.back().add_chunks() = std::move(chunk);
      ++inMessage;
    });
  }
  return messages;
}

rpc::Value announce(const packet::Packet& p, uint32_t id) {
  rpc::Value v;
  packet::fillHeader(p, id, v.mutable_packet());
  return v;
}

void packetSeeds() {
  const std::string f = "packet_fuzzer";
  const packet::Packet items = saleItems(12);
  save(f, "items-one-chunk", fuzz::writeReplyStream(replyOf(announce(items, 1), {items}, 1 << 20, 8)));
  save(f, "items-small-chunks", fuzz::writeReplyStream(replyOf(announce(items, 1), {items}, 120, 2)));
  const packet::Packet empty = saleItems(0);
  save(f, "empty-packet", fuzz::writeReplyStream(replyOf(announce(empty, 1), {empty}, 1 << 20, 8)));

  // the posting run's reply: a list holding two packets, a number, a key and a null
  rpc::Value run;
  auto* list = run.mutable_list();
  *list->add_items() = announce(saleItems(3), 1);
  list->add_items()->set_integer(42);
  *list->add_items() = announce(saleItems(2), 2);
  list->add_items()->set_text("MSG_OK");
  list->add_items();
  save(f, "run-list", fuzz::writeReplyStream(replyOf(run, {saleItems(3), saleItems(2)}, 200, 1)));

  rpc::Value flag;
  flag.set_boolean(true);
  save(f, "no-packet", fuzz::writeReplyStream({[&] {
         rpc::InvokeReply m;
         *m.mutable_result() = flag;
         return m;
       }()}));

  // damaged replies: each must be refused with a message
  const auto good = replyOf(announce(items, 1), {items}, 1 << 20, 8);
  auto damaged = [&](const std::string& name, auto change) {
    auto messages = good;
    change(messages);
    save(f, name, fuzz::writeReplyStream(messages));
  };
  damaged("bad-null-map", [](auto& m) { m[0].mutable_chunks(0)->mutable_columns(2)->set_nulls("\x02"); });
  damaged("bad-text-lengths", [](auto& m) { m[0].mutable_chunks(0)->mutable_columns(4)->add_text_lengths(3); });
  damaged("count-below-rows", [](auto& m) { m[0].mutable_chunks(0)->set_row_count(5); });
  damaged("count-above-rows", [](auto& m) { m[0].mutable_chunks(0)->set_row_count(40); });
  damaged("missing-end", [](auto& m) { m[0].mutable_chunks(0)->set_last(false); });
  damaged("rows-after-end", [](auto& m) { *m[0].add_chunks() = m[0].chunks(0); });
  damaged("unknown-packet", [](auto& m) { m[0].mutable_chunks(0)->set_packet(9); });
  damaged("unknown-field-type",
          [](auto& m) { m[0].mutable_result()->mutable_packet()->mutable_fields(3)->set_type(rpc::FieldType(9)); });
  damaged("second-column-short",
          [](auto& m) { m[0].mutable_chunks(0)->mutable_columns(5)->mutable_numbers()->RemoveLast(); });
  damaged("huge-row-count",
          [](auto& m) { m[0].mutable_chunks(0)->set_row_count(std::numeric_limits<uint64_t>::max()); });
  damaged("date-out-of-range", [](auto& m) {
    m[0].mutable_chunks(0)->mutable_columns(3)->set_numbers(0, 1e300);
    m[0].mutable_chunks(0)->mutable_columns(3)->set_numbers(1, std::nan(""));
  });
}

// ---- invoke_fuzzer ----------------------------------------------------------

rpc::Argument text(const std::string& v, bool byReference = false) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::TEXT);
  a.set_text(v);
  a.set_by_reference(byReference);
  return a;
}
rpc::Argument ref(const std::string& v) { return text(v, true); }
rpc::Argument date(double days) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::DATE);
  a.set_date(days);
  a.set_by_reference(true);
  return a;
}
rpc::Argument boolean(bool v) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::BOOLEAN);
  a.set_boolean(v);
  return a;
}

std::string request(const std::string& method, const std::vector<rpc::Argument>& args,
                    const std::string& object = "Qfx31700.rdmGeraNF") {
  rpc::InvokeRequest r;
  r.set_object(object);
  r.set_method(method);
  for (const auto& a : args) *r.add_arguments() = a;
  return r.SerializeAsString();
}

template <class Method>
using Args = contract::ArgumentList<Method, rpc::Argument>;

std::vector<rpc::Argument> principal(const std::string& branch, const std::string& sales, const std::string& products,
                                     bool interval) {
  using A = contract::GetPrincipal;
  return Args<A>{{A::Filial, text(branch)},
                 {A::DtInicial, date(day(2024, 3, 10))},
                 {A::DtFinal, date(day(2024, 3, 11))},
                 {A::TodasNF, ref("N")},
                 {A::TodasNF2, ref("N")},
                 {A::TodasVendas, ref(sales.empty() ? "S" : "N")},
                 {A::StVendas, ref(sales)},
                 {A::Loja, text("01")},
                 {A::BoTodosCaixa, boolean(true)},
                 {A::StCaixa, ref("")},
                 {A::BoTodosTipoCons, boolean(true)},
                 {A::StTipoCons, ref("")},
                 {A::BoTodosCliente, boolean(!interval)},
                 {A::BoIntervaloCli, boolean(interval)},
                 {A::StCliDe, ref(interval ? "A" : "")},
                 {A::StCliAte, ref(interval ? "Ç" : "")},
                 {A::StCliente, ref("")},
                 {A::StCentroCusto, ref("")},
                 {A::BoTodosCentroCusto, boolean(true)},
                 {A::StProdutos, ref(products)},
                 {A::BoTodosProdutos, boolean(products.empty())}}
      .values();
}

std::vector<rpc::Argument> posting(const std::string& branch, const std::string& operatorCode,
                                   const std::string& registers) {
  using A = contract::SemGeraNF;
  return Args<A>{{A::FiliProc, text(branch)},
                 {A::Filial, text(branch)},
                 {A::Loja, text("01")},
                 {A::TodasVendas, ref("S")},
                 {A::StVendas, ref("")},
                 {A::DtInicial, date(day(2024, 3, 10))},
                 {A::DtFinal, date(day(2024, 3, 10))},
                 {A::StCaixa, ref(registers)},
                 {A::BoTodosCaixa, boolean(registers.empty())},
                 {A::StCliente, ref("")},
                 {A::BoTodosCliente, boolean(true)},
                 {A::BoIntervaloCli, boolean(false)},
                 {A::StCliDe, ref("")},
                 {A::StCliAte, ref("")},
                 {A::StTipoCons, ref("")},
                 {A::BoTodosTipoCons, boolean(true)},
                 {A::TipoReti, text("01")},
                 {A::Setor, text("0001")},
                 {A::Operador, text(operatorCode)},
                 {A::StCentroCusto, ref("")},
                 {A::BoTodosCentroCusto, boolean(true)},
                 {A::StProdutos, ref("")},
                 {A::BoTodosProdutos, boolean(true)},
                 {A::VerificaEstoque, boolean(true)}}
      .values();
}

void invokeSeeds() {
  const std::string f = "invoke_fuzzer";
  const double mar10 = day(2024, 3, 10), mar11 = day(2024, 3, 11), feb15 = day(2024, 2, 15);
  save(f, "param-filial", request("GetParamFilial", {text("0001")}));
  save(f, "param-filial-other-branch", request("GetParamFilial", {text("0002")}));
  save(f, "param-vend", request("GetParamVend", {text("0001")}));
  save(f, "tipo-reti", request("getTipoReti", {text(""), text("T")}));
  save(f, "setor-upper-case", request("GETSETOR", {text("0002"), text("")}));
  save(f, "principal", request("GetPrincipal", principal("0001", "", "", false)));
  save(f, "principal-lists",
       request("GetPrincipal", principal("0001", "_00010000000001__00010000000002_", "_000001_", false)));
  save(f, "principal-interval", request("GetPrincipal", principal("0001", "", "", true)));
  save(f, "principal-hostile", request("GetPrincipal", principal("0001' OR '1'='1", "_'_", "_%_", false)));
  save(f, "periodo-ctb", request("getPeriodoCTBOK", {text("0001"), date(feb15), date(mar11)}));
  using Anterior = contract::Verifica_Venda_Anterior;
  save(f, "venda-anterior",
       request("Verifica_Venda_Anterior", Args<Anterior>{{Anterior::Filial, text("0001")},
                                                         {Anterior::Inicio, date(mar10)},
                                                         {Anterior::Fim, date(mar11)},
                                                         {Anterior::InicioConsolidacao, date(feb15)},
                                                         {Anterior::IdUtilAlmox, ref("S")},
                                                         {Anterior::IdUtilLcEstq, ref("S")},
                                                         {Anterior::CdAlmoxarife, ref("000001")},
                                                         {Anterior::CdLocalEstoque, ref("000001")}}
                                              .values()));
  // GetPrincipal starts with GetVerifVenda's arguments (the contract checks it)
  auto verif = principal("0001", "", "", false);
  verif.resize(contract::GetVerifVenda::kinds.size());
  save(f, "verif-venda", request("GetVerifVenda", verif));
  using Soma = contract::GetSoma;
  save(f, "soma",
       request("GetSoma", Args<Soma>{{Soma::Filial, text("0001")},
                                     {Soma::Loja, text("01")},
                                     {Soma::Caixa, text("001")},
                                     {Soma::Dia, date(mar10)},
                                     {Soma::TodasVendas, ref("S")},
                                     {Soma::StVendas, ref("")},
                                     {Soma::BoTodosTipoCons, boolean(true)},
                                     {Soma::StTipoCons, ref("")},
                                     {Soma::TodasNF, ref("N")}}
                              .values()));
  save(f, "reducao-z", request("GetReducaoZ", {text("0001"), text("001"), date(mar10)}));
  using Vendas = contract::GetVendas;
  save(f, "vendas",
       request("GetVendas", Args<Vendas>{{Vendas::Filial, text("0001")},
                                         {Vendas::Loja, text("01")},
                                         {Vendas::Inicio, date(mar10)},
                                         {Vendas::Fim, date(mar11)},
                                         {Vendas::TodosCaixa, boolean(true)},
                                         {Vendas::StCaixa, ref("")}}
                                .values()));
  using Produtos = contract::GetProdutos;
  save(f, "produtos",
       request("GetProdutos", Args<Produtos>{{Produtos::Filial, text("0001")},
                                             {Produtos::Loja, text("01")},
                                             {Produtos::Inicio, date(mar10)},
                                             {Produtos::Fim, date(mar11)},
                                             {Produtos::CaixaLista, ref("_0001001_")},
                                             {Produtos::CaixaMarca, ref("S")},
                                             {Produtos::VendasLista, ref("_01_")},
                                             {Produtos::VendasMarca, ref("N")}}
                                  .values()));
  save(f, "posting-bound-operator", request("SemGeraNF", posting("0001", "loja01", "")));
  save(f, "posting-one-register", request("SemGeraNF", posting("0001", "loja01", "_0001001_")));
  save(f, "posting-other-branch", request("SemGeraNF", posting("0002", "demo", "")));
  save(f, "posting-wrong-operator", request("SemGeraNF", posting("0001", "outro", "")));

  // the reversal of a posting and the list of the runs it picks from; the demo's
  // postings are implantations and adjustments, which no reversal may undo
  using Estorno = contract::EstornaGeraNF;
  auto reversal = [](const std::string& branch, const std::string& posting, const std::string& reason,
                     const std::string& operatorCode) {
    return Args<Estorno>{{Estorno::FiliProc, text(branch)},  {Estorno::Filial, text(branch)},
                         {Estorno::FilialEst, text(branch)}, {Estorno::NrLancEstq, text(posting)},
                         {Estorno::Motivo, text(reason)},    {Estorno::Operador, text(operatorCode)}}
        .values();
  };
  save(f, "estorno", request("EstornaGeraNF", reversal("0001", "0000000001", "Tipo de retirada errado", "loja01")));
  save(f, "estorno-unknown-posting",
       request("EstornaGeraNF", reversal("0001", "9999999999", "Lançamento que não existe", "loja01")));
  save(f, "estorno-no-reason", request("EstornaGeraNF", reversal("0001", "0000000001", "", "loja01")));
  save(f, "estorno-long-reason",
       request("EstornaGeraNF",
               reversal("0001", "0000000001", std::string(Estorno::kMotivoMaximo + 1, 'x') + "ção", "loja01")));
  save(f, "estorno-other-branch", request("EstornaGeraNF", reversal("0002", "0000000001", "Outra filial", "loja01")));
  save(f, "estorno-hostile", request("EstornaGeraNF", reversal("0001", "1' OR '1'='1", "'; DROP TABLE X", "demo")));
  using Consolidacoes = contract::GetConsolidacoes;
  auto runs = [](const std::string& branch, double first, double last) {
    return Args<Consolidacoes>{{Consolidacoes::Filial, text(branch)},
                               {Consolidacoes::DtInicial, date(first)},
                               {Consolidacoes::DtFinal, date(last)}}
        .values();
  };
  save(f, "consolidacoes", request("GetConsolidacoes", runs("0001", feb15, day(2024, 3, 15))));
  save(f, "consolidacoes-other-branch", request("GetConsolidacoes", runs("0002", feb15, mar11)));
  save(f, "consolidacoes-backwards", request("GetConsolidacoes", runs("0001", mar11, mar10)));

  // refused before any method runs
  save(f, "unknown-object", request("GetParamFilial", {text("0001")}, "Outro.rdm"));
  save(f, "unknown-method", request("ApagaTudo", {text("0001")}));
  save(f, "too-few-arguments", request("GetSoma", {text("0001"), text("01")}));
  save(f, "wrong-kind", request("GetReducaoZ", {text("0001"), text("001"), text("2024-03-10")}));
  save(f, "date-not-a-number", request("GetReducaoZ", {text("0001"), text("001"), date(std::nan(""))}));
  save(f, "date-too-far", request("GetReducaoZ", {text("0001"), text("001"), date(1e300)}));
  save(f, "date-year-9999",
       request("getPeriodoCTBOK", {text("0001"), date(server::wiredate::kMinDays), date(server::wiredate::kMaxDays)}));
  rpc::Argument unknownKind = text("x");
  unknownKind.set_kind(rpc::Argument::Kind(7));
  save(f, "unknown-kind", request("GetParamFilial", {unknownKind}));
}

// ---- list_text_fuzzer -------------------------------------------------------

// The key with its backslashes doubled, ended by a backslash and a character.
std::string listInput(const std::string& key, const std::string& list) {
  std::string out;
  for (char c : key) {
    out += c;
    if (c == '\\') out += c;
  }
  return out + "\\|" + list;
}

void listSeeds() {
  const std::string f = "list_text_fuzzer";
  save(f, "two-keys", listInput("A", "_A_B_"));
  save(f, "absent", listInput("C", "_A_B_"));
  save(f, "empty-list", listInput("A", ""));
  save(f, "empty-key", listInput("", "__"));
  save(f, "accents", listInput("ção", "_ção_"));
  save(f, "branch-sales", listInput("00010000000002", "_00010000000001__00010000000002_"));
  save(f, "key-with-underscore", listInput("A_B", "_A_B_"));
  save(f, "no-closing", listInput("A", "_A"));
  save(f, "backslash", listInput("a\\b", "_a\\b_"));
  save(f, "prefix-of-piece", listInput("000", "_0001_"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "uso: fuzz_seeds <pasta das sementes, normalmente fuzz/corpus>\n");
    return 2;
  }
  root = argv[1];
  packetSeeds();
  invokeSeeds();
  listSeeds();
  std::printf("%d sementes gravadas em %s\n", written, root.string().c_str());
  return 0;
}
