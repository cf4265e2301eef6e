#include "demo/demo_tour.h"

#include <QString>
#include <array>
#include <string_view>

#include <proto/contract_refusals.h>

namespace qfx::server::demo {

namespace {

using namespace contract::refusals;

// A day of the tour, counted from the demo's reference date D.
struct Day {
  int fromD = 0;       // days after D (negative: before it)
  int monthsBack = 0;  // when set: the 1st of the month this many months before D's
};

constexpr Day d(int fromD) { return Day{fromD, 0}; }
constexpr Day monthStart(int monthsBack) { return Day{0, monthsBack}; }

// The table itself. A text may name a day as {D}, {D-7} or {D+1}: the
// printout shows its date, the manual's page counts it from D.
struct Stop {
  std::string_view outcome;
  std::string_view shown;
  const char* page;
  const char *branch, *store, *withdrawalType, *sector;
  Day first, last;
  const char* filter;
  const char* sees;
};

const std::array<Stop, 16> kStops = {{
    {kProductNotOfWithdrawalType, kProductNotOfWithdrawalType, "mensagens.html#Prod_NRelacReti", "0001", "01", "02",
     "0001", d(-29), d(-8), "",
     "recusa; abre a tela de relatórios em \"Produtos não relacionados ao tipo de retirada\", com os produtos que não "
     "são bebidas (o tipo 02 só movimenta bebidas), cada um com o código da árvore como a grade mostra"},
    {"MOVIFORAPERIODOCTB", "MOVIFORAPERIODOCTB", "mensagens.html#MOVIFORAPERIODOCTB", "0001", "01", "01", "0001",
     monthStart(3), d(0), "", "recusa: o período contábil daquele mês está fechado"},
    {kAfterProcessingDate, kAfterProcessingDate, "mensagens.html#Data_Mai", "0001", "01", "01", "0001", d(-1), d(1), "",
     "recusa: amanhã é depois da data de processamento (hoje)"},
    {kStockClosed, kStockClosed, "mensagens.html#Data_Men", "0001", "01", "01", "0001", d(-41), d(-28), "",
     "recusa: o estoque está fechado até {D-40}"},
    {kPeriodTooLong, kPeriodTooLong, "mensagens.html#Data_M", "0001", "01", "01", "0001", d(-39), d(-8), "",
     "recusa: mais de 31 dias"},
    {"GERACAO_OK", "GERACAO_OK", "mensagens.html#GERACAO_OK", "0001", "01", "01", "0001", d(-29), d(-8), "",
     "nenhuma pergunta além de \"Confirma operação?\"; depois \"Consolidação de vendas realizada com sucesso.\""},
    {"NF_OK_ZERO", "NF_OK_ZERO", "mensagens.html#NF_OK_ZERO", "0001", "01", "01", "0001", d(-8), d(-8),
     "Produtos: Lista, só \"Taxa de serviço\"", "nada a lançar: a taxa não controla estoque"},
    {"VALOR_DIF", "VALOR_DIF", "mensagens.html#VALOR_DIF", "0001", "01", "01", "0001", d(-7), d(0), "",
     "três perguntas, nesta ordem: caixa 001 em {D-7} (sem redução Z), 002 em {D-5} (Z um centavo a mais), 003 em "
     "{D-2} (Z R$ 50,00 a menos); \"Não\" interrompe, e a próxima consolidação pergunta de novo; \"Sim\" às três "
     "consolida, e uma consolidação do mesmo período não pergunta mais"},
    {"ULT_LANC_DIA", "ULT_LANC_DIA", "mensagens.html#ULT_LANC_DIA", "0001", "02", "01", "0001", d(-13), d(-11), "",
     "consolida, menos {D-12}: o almoxarifado do quiosque teve um ajuste de inventário nesse dia"},
    {kDaysClosedByAdjustment, kDaysClosedByAdjustment, "mensagens.html#LANC_BLOQ_IMPL", "0001", "02", "01", "0001",
     d(-12), d(-12), "", "recusa: só o dia do ajuste"},
    {"LIB00200_3", "estoque irregular, estoque negativo não permitido", "consolidacao.html#consolidar", "0001", "02",
     "01", "0001", d(-5), d(-5), "",
     "a janela \"Lançamentos com Estoque Irregular\" (Panetone 500g, nunca estocado) e depois \"Consolidação de "
     "vendas realizada com sucesso.\" (a filial converte o estoque negativo)"},
    {kEarlierSalesPending, kEarlierSalesPending, "mensagens.html#VENDA_CONSOL", "0002", "01", "01", "0003", d(-3), d(0),
     "",
     "recusa enquanto houver dias anteriores do mês pendentes; feita a linha 13, que consolida esses dias, o mesmo "
     "período consolida"},
    {"Irreg_Prod_Est", "Irreg_Prod_Est", "mensagens.html#Irreg_Prod_Est", "0002", "01", "01", "0003", d(-29), d(-4), "",
     "a pergunta sobre estoque irregular (Panetone em {D-25}); \"Sim\" faz a segunda chamada, que lança"},
    {"CONS_BLOQ", "CONS_BLOQ", "mensagens.html#CONS_BLOQ", "0004", "01", "01", "0001", d(-20), d(-18), "",
     "a janela \"Produtos Bloqueados para Consolidação\" (um produto descontinuado; \"Combo família\", não "
     "cadastrado para a filial) e depois a recusa"},
    {"OPERA_BLOQ", "OPERA_BLOQ", "mensagens.html#OPERA_BLOQ", "0004", "01", "01", "0001", d(-6), d(-6), "",
     "a janela \"Lançamentos com Estoque Irregular\", com a filial 0001 (a 0004 guarda o estoque no almoxarifado "
     "central), e depois a recusa; nada é lançado"},
    {kBranchKeepsNoStock, kBranchKeepsNoStock, "mensagens.html#N_CTRL_ESTOQ", "0003", "01", "01", "0001", d(-29), d(0),
     "", "recusa: a filial não controla estoque"},
}};

// What the tour is and how each stop is walked, said once for the printout
// and the page.
constexpr const char* kAbout =
    "O banco de demonstração traz, de propósito, um caso de cada resultado da consolidação. D é a data de "
    "referência: o dia em que o banco de demonstração foi criado.";
constexpr const char* kHowToWalk =
    "Para cada linha: informe filial, loja, tipo de retirada e setor na tela, saia do painel, informe o período no "
    "filtro (só itens pendentes, o resto em \"Todos\"/\"Todas\") e clique em Consolidar Vendas. Siga esta ordem num "
    "banco novo: as recusas deixam os dados como estavam; as consolidações depois delas lançam.";

// The screen's entries before the first stop.
constexpr std::array<const char*, 4> kDefaultEntries = {"0001", "01", "01", "0001"};

QDate dateOf(const Day& day, const QDate& today) {
  if (day.monthsBack > 0) return QDate(today.year(), today.month(), 1).addMonths(-day.monthsBack);
  return today.addDays(day.fromD);
}

std::string dateText(const QDate& date) { return date.toString(QStringLiteral("dd/MM/yyyy")).toStdString(); }

std::string relativeText(const Day& day) {
  static const char* const kMonths[] = {"", "um mês", "dois meses", "três meses"};
  if (day.monthsBack > 0)
    return std::string("dia 1º do mês de ") +
           (day.monthsBack < 4 ? kMonths[day.monthsBack] : std::to_string(day.monthsBack) + " meses") + " atrás";
  if (day.fromD == 0) return "D";
  if (day.fromD == 1) return "amanhã";
  return day.fromD < 0 ? "D−" + std::to_string(-day.fromD) : "D+" + std::to_string(day.fromD);
}

// A text's {D…} days as dates of `today`, or counted from D when no date is given.
std::string resolveDays(const std::string& text, const QDate* today) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t open = text.find("{D", at);
    const size_t close = open == std::string::npos ? open : text.find('}', open);
    if (close == std::string::npos) {
      out += text.substr(at);
      break;
    }
    out += text.substr(at, open - at);
    const std::string offset = text.substr(open + 2, close - open - 2);
    const Day day = d(offset.empty() ? 0 : std::stoi(offset));
    out += today ? dateText(dateOf(day, *today)) : relativeText(day);
    at = close + 1;
  }
  return out;
}

TourStop stopOf(const Stop& s, const QDate* today) {
  TourStop t;
  t.outcome = s.outcome;
  t.shown = s.shown;
  t.page = s.page;
  t.branch = s.branch;
  t.store = s.store;
  t.withdrawalType = s.withdrawalType;
  t.sector = s.sector;
  if (today) {
    t.first = dateOf(s.first, *today);
    t.last = dateOf(s.last, *today);
  }
  t.period = relativeText(s.first) + " a " + relativeText(s.last);
  t.filter = s.filter;
  t.sees = resolveDays(s.sees, today);
  return t;
}

// `first`, then the words of `text`, in lines of at most `width` characters
// (UTF-8); the lines after the first begin with `indent`.
std::string wrapped(const std::string& first, const std::string& text, size_t width, const std::string& indent) {
  const auto length = [](const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
  };
  std::string out, line = first;
  bool lineHasWord = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    if (lineHasWord && length(line) + 1 + length(word) > width) {
      out += line + "\n";
      line = indent;
      lineHasWord = false;
    }
    line += (lineHasWord ? " " : "") + word;
    lineHasWord = true;
  }
  return out + line + "\n";
}

std::string html(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::vector<TourStop> tour(const QDate& today) {
  std::vector<TourStop> stops;
  for (const Stop& s : kStops) stops.push_back(stopOf(s, &today));
  return stops;
}

std::string tourText(const QDate& today) {
  std::string text = "roteiro da demonstração (D = " + dateText(today) +
                     "; em cada linha: filial/loja/tipo de retirada/setor, período — resultado: o que a tela "
                     "mostra)\n";
  text += wrapped("  ", std::string(kAbout) + " " + kHowToWalk, 110, "  ");
  int number = 0;
  for (const TourStop& t : tour(today)) {
    ++number;
    const std::string numbered = (number < 10 ? "   " : "  ") + std::to_string(number) + ". ";
    std::string line = t.branch + "/" + t.store + "/" + t.withdrawalType + "/" + t.sector + ", " + dateText(t.first) +
                       " a " + dateText(t.last);
    if (!t.filter.empty()) line += " (" + t.filter + ")";
    text += wrapped(numbered, line + " — " + t.shown + ": " + t.sees, 110, "      ");
  }
  return text;
}

std::string tourPage() {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"pt-BR\">\n<head><meta charset=\"utf-8\"><title>Roteiro da demonstração</title>\n"
      "<link rel=\"stylesheet\" href=\"estilo.css\"></head>\n<body>\n"
      "<p class=\"nav\"><a href=\"index.html\">Manual</a></p>\n<h1>Roteiro da demonstração</h1>\n";
  page += "<p>" + html(kAbout) +
          " O programa que cria o banco (<code>qfxdemo</code>) imprime esta tabela com as datas reais, e ela fica "
          "guardada ao lado do banco, no arquivo <code>demo.db.roteiro</code>.</p>\n";
  page += "<p>" + html(kHowToWalk) + "</p>\n<table>\n";
  page +=
      "<tr><th>#</th><th>Resultado</th><th>Filial / Loja / Tipo / Setor</th><th>Período</th><th>O que o operador "
      "vê</th></tr>\n";
  // an entry that changes from the stop before is in bold
  std::array<std::string, 4> before = {kDefaultEntries[0], kDefaultEntries[1], kDefaultEntries[2], kDefaultEntries[3]};
  int number = 0;
  for (const Stop& s : kStops) {
    const TourStop t = stopOf(s, nullptr);
    const std::array<std::string, 4> entries = {t.branch, t.store, t.withdrawalType, t.sector};
    std::string shownEntries;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (i) shownEntries += " / ";
      shownEntries += entries[i] == before[i] ? entries[i] : "<b>" + entries[i] + "</b>";
    }
    before = entries;
    std::string period = html(t.period);
    if (!t.filter.empty()) period += ", " + html(t.filter);
    ++number;
    page += "<tr><td>" + std::to_string(number) + "</td><td><a href=\"" + t.page + "\">" + html(t.shown) +
            "</a></td><td>" + shownEntries + "</td><td>" + period + "</td><td>" + html(t.sees) + "</td></tr>\n";
  }
  page += "</table>\n</body>\n</html>\n";
  return page;
}

}  // namespace qfx::server::demo
