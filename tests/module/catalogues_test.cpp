// The screens' catalogues as shipped: complete, texts exact, composed
// messages built the way the checks build them.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QSet>
#include <QTimer>

#include "scriptedhostservices.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/messages.h>
#include <proto/contract_refusals.h>
#include <qfx31700/host/catalogues.h>

using namespace qfx;
using hostkit::TMessages;

TEST(Catalogues, EachScreenHasItsEntriesWithUniqueKeys) {
  for (const auto& [entries, size] : {std::pair{catalogoGeraNF(), 71}, std::pair{catalogoFiltroGeraNF(), 20},
                                      std::pair{catalogoRelProdEvol(), 12}, std::pair{catalogoConsolidacoes(), 17}}) {
    EXPECT_EQ(entries.size(), size);
    QSet<QString> keys;
    for (const auto& e : entries) keys.insert(e.section(u'|', 0, 0));
    EXPECT_EQ(keys.size(), size);
  }
}

// Every refusal of the reversal reaches the operator in the screen's words.
TEST(Catalogues, TheRunsScreenHasATextForEveryReversalRefusal) {
  TMessages runs;
  runs.setEntries(catalogoConsolidacoes());
  for (const std::string_view refusal : contract::refusals::reversal::kAll) {
    const QString key = QString::fromLatin1(refusal.data(), qsizetype(refusal.size()));
    EXPECT_TRUE(runs.contains(key)) << refusal;
    EXPECT_NE(runs.Msg(key), key);
  }
  EXPECT_EQ(runs.Msg("Conf_Estorno", {"0000000002", "10/03/2024"}).count("0000000002"), 1);
}

TEST(Catalogues, EveryRefusalOfTheServerHasATextOnTheConsolidationScreen) {
  QSet<QString> keys;
  for (const auto& e : catalogoGeraNF()) keys.insert(e.section(u'|', 0, 0));
  for (const auto refusal : contract::refusals::kAll) EXPECT_TRUE(keys.contains(refusalMessageKey(refusal))) << refusal;
}

TEST(Catalogues, TextsKeepTheirBlanksAndUnusualKeysAreFound) {
  TMessages geraNF;
  geraNF.setEntries(catalogoGeraNF());
  EXPECT_EQ(geraNF.Msg("DSLANC_VENDA"), "Retirada para a venda ");
  EXPECT_EQ(geraNF.Msg("Atua_Prod"), "Gerando nota fiscal da venda: ");
  EXPECT_EQ(geraNF.Msg("Conf_ProdEst"), "Confirma visualização dos produtos com  estoque irregular?");
  EXPECT_EQ(geraNF.Msg("Não"), "Não");
  EXPECT_EQ(geraNF.Msg("INFO_COD_FILIAL"), "Filial deve deve ser informada.");
  EXPECT_EQ(geraNF.Msg("Irreg_Prod_Est"),
            "A atualização de estoque de alguns produtos faria com que a posição de estoque se tornasse irregular. "
            "Confirma Operação ?");

  TMessages rel;
  rel.setEntries(catalogoRelProdEvol());
  EXPECT_EQ(rel.Msg("PerINI>PerFIM"), "Período inicial deve ser menor ou igual ao período final.");
  EXPECT_EQ(rel.Msg("Arq_Rel_Err", {"Qfx317", "/rel"}),
            "O arquivo contendo a definição do relatório de código 'Qfx317' não foi encontrado no diretório '/rel'.");
}

TEST(Catalogues, ComposedDateMessagesHaveOneOrTwoBlanksBeforeNao) {
  TMessages geraNF, rel;
  geraNF.setEntries(catalogoGeraNF());
  rel.setEntries(catalogoRelProdEvol());
  // an apostrophe, the edit text, an apostrophe, one blank, the catalogue text
  const auto composed = [](const QString& typed, const QString& text) { return "'" + typed + "' " + text; };
  EXPECT_EQ(composed("31/02/2026", geraNF.Msg("DATA_INV")), "'31/02/2026' não é uma data válida.");
  EXPECT_EQ(composed("31/02/2026", rel.Msg("Per_Inv")), "'31/02/2026'  não é um período válido.");
  EXPECT_EQ(geraNF.Msg("VALOR_DIF", {"001", "08/12/2026"}),
            "O somatório das vendas do caixa 001 no dia 08/12/2026 difere do valor da venda líquida da redução z. "
            "Confirma operação?");
}

TEST(SilentAbort, StopsTheHandlerQuietlyAndOtherErrorsReachTheErrorDisplay) {
  auto host = hostkit::ScriptedHostServices::install();
  bool after = false;
  EXPECT_FALSE(hostkit::guarded([&] {
    hostkit::Abort();
    after = true;
  }));
  EXPECT_FALSE(after);
  EXPECT_TRUE(host->messages.isEmpty());

  EXPECT_FALSE(hostkit::guarded([] { throw hostkit::EServerError("Servidor fora do ar"); }));
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_EQ(host->messages[0].kind, hostkit::ShownMessage::Exception);
  EXPECT_EQ(host->messages[0].text, "Servidor fora do ar");

  // MensErro with abort: the message, then the silent stop
  EXPECT_FALSE(hostkit::guarded([] { hostkit::MensErro("Loja deve ser informada.", true); }));
  EXPECT_EQ(host->messages.size(), 2);
  EXPECT_EQ(host->messages[1].kind, hostkit::ShownMessage::Error);

  // the event loop keeps running after a handler stopped inside it
  QEventLoop loop;
  int ticks = 0;
  QTimer::singleShot(0, [&] { hostkit::guarded([] { hostkit::Abort(); }); });
  QTimer::singleShot(0, [&] { hostkit::guarded([] { throw std::runtime_error("falha"); }); });
  QTimer::singleShot(10, [&] {
    ++ticks;
    loop.quit();
  });
  loop.exec();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(host->messages.size(), 3);
  EXPECT_EQ(host->messages[2].text, "falha");
}
