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

}  // namespace qfx::contract::refusals
