// The message catalogues of the three screens, entry by entry ("key|text").
// Texts are kept exactly, blanks included; the screens fetch them by key.
#include "catalogues.h"

#include <proto/contract_refusals.h>

using namespace Qt::StringLiterals;

namespace qfx {

QStringList catalogoGeraNF() {
  return {
      u"Excl|Confirma exclusão?"_s,
      u"Conf|Confirma operação?"_s,
      u"DSLANC_VENDA|Retirada para a venda "_s,
      u"Atua_Prod|Gerando nota fiscal da venda: "_s,
      u"Ok|Ok"_s,
      u"SimT|Sim para todos"_s,
      u"Sim|Sim"_s,
      u"Não|Não"_s,
      u"NaoT|Não para todos"_s,
      u"DATAINI_VAZIA|Data inicial deve ser informada."_s,
      u"DATA_INV|não é uma data válida."_s,
      u"DATAFIM_VAZIA|Data final deve ser informada."_s,
      u"DATAINI_MAIOR|Data inicial deve ser menor ou igual a data final."_s,
      u"INFO_COD_FILIAL|Filial deve deve ser informada."_s,
      u"COD_NAO_CAD_FILIAL|Filial não cadastrada."_s,
      u"Inc_bloq_prod|A inclusão do produto %s faria com que o seu estoque se tornasse irregular."_s,
      u"Alt_bloq_prod|A alteração da quantidade do produto %s faria com que o seu estoque se tornasse irregular."_s,
      u"Exc_prod_bloq|A exclusão do produto %s faria com que o seu estoque se tornasse irregular."_s,
      u"LANC_BLOQ|Operação bloqueada. Lançamento em alteração por outro usuário."_s,
      u"Venda|Venda"_s,
      u"PERIODO_INV|Data final deve ser maior ou igual à data inicial."_s,
      u"NF_OK|Notas fiscais geradas com sucesso."_s,
      u"NF_ERRO|Ocorreu algum erro durante a geração de uma ou mais notas fiscais."_s,
      u"LancNFVnd|Lançando Nota Fiscal..."_s,
      u"EmitNFVnd|Emitindo Nota Fiscal..."_s,
      u"Almox_inf|Almoxarifado deve ser informado."_s,
      u"Almox_cad|Almoxarifado não cadastrado."_s,
      u"Loca_inf|Localização deve ser informada."_s,
      u"Loca_cad|Localização não cadastrada."_s,
      u"NRMAXITEM_ZERO|Lançamento de expedição não permitido. Série possui número máximo de produtos igual a zero."_s,
      u"SERIE_NAO_CAD|Série de saída não cadastrada."_s,
      u"NF_OK_ZERO|Não foi gerado nenhum lançamento, pois não existem itens pendentes, ou os itens pendentes não possuem controle de estoque."_s,
      u"NF_OK_UMA|Nota fiscal gerada com sucesso."_s,
      u"SERIE|Série de saída deve ser informada."_s,
      u"L|Destino --> Filial"_s,
      u"C|Destino --> Cliente"_s,
      u"F|Destino --> Fornecedor"_s,
      u"tp_oper|Nota Fiscal de Venda"_s,
      u"Oper_Inv|Destino do tipo de operação de saída deve ser cliente."_s,
      u"N_CTRL_ESTOQ|Filial deve controlar estoque para realizar a consolidação das vendas."_s,
      u"Loja_inf|Loja deve ser informada."_s,
      u"Loja_cad|Loja não cadastrada."_s,
      u"OPERA_BLOQ|Consolidação não permitida! Existem produtos que ficarão com saldo negativo no estoque."_s,
      u"Conf_ProdEst|Confirma visualização dos produtos com  estoque irregular?"_s,
      u"PROD_EST_IRREG|Verificando produtos com estoque irregular..."_s,
      u"NAO_PROD|Não exite produto com estoque irregular."_s,
      u"EstIrreg|Consolidação não realizada. Verifique os produtos com estoque irregular e tente novamente."_s,
      u"VENDA_CONSOL|Operação bloqueada. Existem vendas com data anterior que ainda não foram consolidadas."_s,
      u"Data_Mai|Data da venda deve ser menor ou igual à data de processamento."_s,
      u"Data_Men|Data da venda deve ser maior ou igual à data de processamento."_s,
      u"Data_M|Data da venda fora do período permitido."_s,
      u"VALOR_DIF|O somatório das vendas do caixa %s no dia %s difere do valor da venda líquida da redução z. Confirma operação?"_s,
      u"Oper_inf|Operação deve ser informada."_s,
      u"Oper_n_cad|Operação não cadastrada."_s,
      u"SERIENTRINV|Série de Entrada não cadastrada."_s,
      u"SERIENTRINF|Série de Entrada deve ser informada."_s,
      u"OperEnt_Inv|Destino do tipo de operação de entrada ( 13 - %s ) deve ser cliente."_s,
      u"BAIXA_VISTA|Recebimento à vista"_s,
      u"GERACAO_OK|Consolidação de vendas realizada com sucesso."_s,
      u"Irreg_Prod_Est|A atualização de estoque de alguns produtos faria com que a posição de estoque se tornasse irregular. Confirma Operação ?"_s,
      u"BaixaEst|Realizando a baixa do estoque..."_s,
      u"TIPORETI_NULL|Tipo Retirada deve ser informado."_s,
      u"SETOR_NULL|Setor deve ser informado."_s,
      u"LANC_BLOQ_IMPL|Operação bloqueada: Implantação ou Ajuste (último lançamento do dia) já realizada para a data informada."_s,
      u"TIPORETI_NCAD|Tipo Retirada não cadastrado."_s,
      u"SETOR_NCAD|Setor não cadastrado."_s,
      u"ConsolidaVenda|Consolidando as vendas..."_s,
      u"CONS_BLOQ|Operação não permitida! Existem produtos inativos ou não cadastrados para a filial."_s,
      u"MOVIFORAPERIODOCTB|Operação Bloqueada! Existem lançamentos fora do período contábil permitido! Favor entrar em contato com a Contabilidade."_s,
      u"ULT_LANC_DIA|Alguns dias não foram consolidados, pois existe Implantação ou Ajuste realizado como último lançamento do dia."_s,
      u"Prod_NRelacReti|Operação bloqueada! Existe(m) produto(s) não relacionado(s) ao tipo de retirada informado."_s,
  };
}

QString refusalMessageKey(std::string_view refusal) {
  if (refusal == contract::refusals::kDaysClosedByAdjustment) return u"LANC_BLOQ_IMPL"_s;
  return QString::fromLatin1(refusal);
}

QStringList catalogoFiltroGeraNF() {
  return {
      u"DATAINI_VAZIA|Data inicial deve ser informada."_s,
      u"DATA_INV|não é uma data válida."_s,
      u"DATAFIM_VAZIA|Data final deve ser informada."_s,
      u"DATAINI_MAIOR|Data inicial deve ser menor ou igual a data final."_s,
      u"VENDA_N_INF|Venda deve ser informada."_s,
      u"Cxa_inf|Caixa deve ser informado."_s,
      u"Caixa|Caixa"_s,
      u"Venda|Venda"_s,
      u"TipoCons|Tipo de Consumidor"_s,
      u"TIP_N_CAD|Não há tipo de consumidor cadastrado."_s,
      u"TIPCONS_N_INF|Tipo de consumidor deve ser informado."_s,
      u"CLIENTE|Cliente"_s,
      u"CLIE_N_CAD|Cliente não cadastrado."_s,
      u"CLIENTE_N_INF|Cliente deve ser informado."_s,
      u"CLIEINI|Cliente inicial deve ser menor que Cliente Final."_s,
      u"CentroCusto|Centro de Custo"_s,
      u"CCUSTO_N_INF|Centro de custo deve ser informado."_s,
      u"Prod_Inf|Produto deve ser informado."_s,
      u"Produtos|Produtos"_s,
      u"Nao_Ha_Vend|Não há vendas concluídas."_s,
  };
}

QStringList catalogoRelProdEvol() {
  return {
      u"Arq_Rel_Err|O arquivo contendo a definição do relatório de código '%s' não foi encontrado no diretório '%s'."_s,
      u"NovoCaption|Título do relatório"_s,
      u"NovoPrompt|Informe o título do relatório:"_s,
      u"Familia|Família"_s,
      u"Filial|Filial"_s,
      u"NAO_HA_FILIAL|Não há filial cadastrada."_s,
      u"FILIAL_dv|Filial deve ser informada."_s,
      u"PERIODO_dv|Período deve ser informada."_s,
      u"PerIni_Dv_Inf|Período inicial deve ser informado."_s,
      u"PerFim_Dv_Inf|Período final deve ser informado."_s,
      u"Per_Inv| não é um período válido."_s,
      u"PerINI>PerFIM|Período inicial deve ser menor ou igual ao período final."_s,
  };
}

QStringList catalogoConsolidacoes() {
  return {
      u"DATAINI_VAZIA|Data inicial deve ser informada."_s,
      u"DATA_INV|não é uma data válida."_s,
      u"DATAFIM_VAZIA|Data final deve ser informada."_s,
      u"DATAINI_MAIOR|Data inicial deve ser menor ou igual a data final."_s,
      u"Carregando|Carregando as consolidações..."_s,
      u"Sem_Consol|Não há consolidação selecionada para estornar."_s,
      u"Lanc_Estorno|Lançamento de estoque %s do dia %s: %s itens, R$ %s."_s,
      u"Conf_Estorno|Confirma o estorno do lançamento de estoque %s do dia %s? Os itens voltarão a ficar pendentes e o saldo do estoque será devolvido."_s,
      u"Estornando|Estornando a consolidação..."_s,
      u"Estorno_OK|Estorno realizado com sucesso: lançamento de estoque %s estornou o lançamento %s; %s itens de venda voltaram a ficar pendentes."_s,
      u"Estorno_Motivo|O motivo do estorno deve ser informado (até 200 caracteres)."_s,
      u"Estorno_Nao_Consol|Operação não permitida! O lançamento de estoque não foi gerado pela consolidação de vendas desta filial."_s,
      u"Estorno_Ja_Estornado|Operação não permitida! Este lançamento de estoque já foi estornado."_s,
      u"Estorno_Periodo_CTB|Operação bloqueada! O dia do lançamento está em um período contábil fechado."_s,
      u"Estorno_Estq_Fechado|Operação bloqueada! O estoque da filial está fechado na data do lançamento."_s,
      u"Estorno_Impl_Ajuste|Operação bloqueada! Existe Implantação ou Ajuste de estoque posterior ao lançamento no mesmo almoxarifado."_s,
      u"Estorno_Filial_Oper|Operação não permitida! O operador só pode estornar consolidações da sua filial."_s,
  };
}

}  // namespace qfx
