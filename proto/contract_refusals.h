// The keys a remote method refuses with. A refusal is a failed call whose
// status is FAILED_PRECONDITION and whose message is one of these keys; the
// screens show their own text for each, so a key is part of the contract as
// much as a method's name: the server raises them, the client recognises
// them, and neither spells one out again.
#pragma once

#include <array>
#include <string_view>

namespace qfx::contract::refusals {

// An earlier sale day of the branch still has items waiting for a run.
inline constexpr std::string_view kEarlierSalesPending = "VENDA_CONSOL";
// The period ends after the branch's processing date.
inline constexpr std::string_view kAfterProcessingDate = "Data_Mai";
// The period starts on or before the day the branch's stock is closed up to.
inline constexpr std::string_view kStockClosed = "Data_Men";
// The period is longer than the branch allows in one run.
inline constexpr std::string_view kPeriodTooLong = "Data_M";
// The branch keeps no stock, so there is nothing to post.
inline constexpr std::string_view kBranchKeepsNoStock = "N_CTRL_ESTOQ";
// Every day of the period ends with a stock take or an adjustment.
inline constexpr std::string_view kDaysClosedByAdjustment = "Lanc_Bloq_Impl";
// A product to post is not related to the withdrawal type.
inline constexpr std::string_view kProductNotOfWithdrawalType = "Prod_NRelacReti";

inline constexpr std::array kAll = {
    kEarlierSalesPending,    kAfterProcessingDate,       kStockClosed, kPeriodTooLong, kBranchKeepsNoStock,
    kDaysClosedByAdjustment, kProductNotOfWithdrawalType};

// The reversal of a run's posting (EstornaGeraNF), whose texts are those of
// "Consolidações realizadas".
namespace reversal {
// No reason given, or one longer than the server keeps.
inline constexpr std::string_view kReasonMissing = "Estorno_Motivo";
// Not a posting the consolidation made for the branch's sales.
inline constexpr std::string_view kNotARun = "Estorno_Nao_Consol";
// Reversed already.
inline constexpr std::string_view kAlreadyReversed = "Estorno_Ja_Estornado";
// The posting's day lies in no open accounting period.
inline constexpr std::string_view kAccountingClosed = "Estorno_Periodo_CTB";
// The stock is closed on or after the posting's day.
inline constexpr std::string_view kStockClosed = "Estorno_Estq_Fechado";
// An implantation or adjustment counted the warehouse after the posting.
inline constexpr std::string_view kCountedAfter = "Estorno_Impl_Ajuste";
// The operator's branch binding (PERMISSION_DENIED, from the method table's
// branch check).
inline constexpr std::string_view kOutsideBinding = "Estorno_Filial_Oper";

inline constexpr std::array kAll = {kReasonMissing, kNotARun,      kAlreadyReversed, kAccountingClosed,
                                    kStockClosed,   kCountedAfter, kOutsideBinding};
}  // namespace reversal

}  // namespace qfx::contract::refusals
