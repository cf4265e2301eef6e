// Catalogues: texts kept exactly, keys matched whole, "%s" filled in order.
#include <gtest/gtest.h>

#include <hostkit/core/messages.h>

using namespace hostkit;

TEST(Messages, TextsAreKeptExactlyAndKeysMatchedWhole) {
  TMessages msg(nullptr, "msgPadrao");
  msg.setEntries({"DSLANC_VENDA|Retirada para a venda ", "Conf_ProdEst|Confirma com  estoque?",
                  "PerINI>PerFIM|Período inicial deve ser menor.", "Não|Não", "Per_Inv| não é um período válido.",
                  "A|primeiro|com barra"});
  EXPECT_EQ(msg.Msg("DSLANC_VENDA"), "Retirada para a venda ");
  EXPECT_EQ(msg.Msg("Conf_ProdEst"), "Confirma com  estoque?");
  EXPECT_EQ(msg.Msg("PerINI>PerFIM"), "Período inicial deve ser menor.");
  EXPECT_EQ(msg.Msg("Não"), "Não");
  EXPECT_EQ(msg.Msg("A"), "primeiro|com barra");
  EXPECT_EQ(QString("'31/02/2026'") + " " + msg.Msg("Per_Inv"), "'31/02/2026'  não é um período válido.");
  EXPECT_FALSE(msg.contains("PerINI"));
  EXPECT_EQ(msg.Msg("PerINI"), "Mensagem não cadastrada: PerINI");
  EXPECT_EQ(keyForText("Confirma com  estoque?"), "Conf_ProdEst");
}

TEST(Messages, PlaceholdersAreFilledInOrder) {
  TMessages msg;
  msg.setEntries({"VALOR_DIF|O caixa %s no dia %s difere."});
  EXPECT_EQ(msg.Msg("VALOR_DIF", {"001", "08/12/2026"}), "O caixa 001 no dia 08/12/2026 difere.");
  EXPECT_EQ(keyForText("O caixa 001 no dia 08/12/2026 difere."), "VALOR_DIF");
  EXPECT_EQ(formatMessage("%s e %s", {"um"}), "um e ");
  EXPECT_EQ(formatMessage("100%", {"x"}), "100%");
}
