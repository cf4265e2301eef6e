// The methods of the remote object: each one's name, the kinds of its
// positional arguments in order, and a name for every position. The server's
// method table, its handlers, the client's calls and the tests all take them
// from here; nobody counts positions by hand.
//
// Positions are 1-based, as a method's argument list is documented and as
// the server's messages name them ("argumento 19"). The names are those of
// the values the client passes: its variables and the filter's fields.
// kindAt(position), found by argument-dependent lookup on any method's
// position, gives the kind declared there.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qfx::contract {

enum class ArgKind { Text, Date, Boolean };

// The index of a 1-based position in an argument vector.
constexpr std::size_t argIndex(int position) { return std::size_t(position - 1); }

// Shorthands for the kinds lists below.
struct MethodKinds {
  static constexpr ArgKind T = ArgKind::Text;
  static constexpr ArgKind D = ArgKind::Date;
  static constexpr ArgKind B = ArgKind::Boolean;
};

// ---- parameters and lookups ---------------------------------------------------------

struct GetParamFilial : MethodKinds {
  static constexpr std::string_view name = "GetParamFilial";
  enum Arg : int { Filial = 1 };
  static constexpr std::array kinds{T};
  static_assert(Filial == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// The same argument as GetParamFilial.
struct GetParamVend : GetParamFilial {
  static constexpr std::string_view name = "GetParamVend";
};

// A code lookup: Todos = "T" lists every row; otherwise the row of Codigo.
struct getTipoReti : MethodKinds {
  static constexpr std::string_view name = "getTipoReti";
  enum Arg : int { Codigo = 1, Todos };
  static constexpr std::array kinds{T, T};
  static_assert(Todos == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// The same arguments as getTipoReti.
struct getSetor : getTipoReti {
  static constexpr std::string_view name = "getSetor";
};

// ---- the sales list and the checks before a run -------------------------------------

struct GetPrincipal : MethodKinds {
  static constexpr std::string_view name = "GetPrincipal";
  enum Arg : int {
    Filial = 1,
    DtInicial,
    DtFinal,
    TodasNF,   // "S": posted items too
    TodasNF2,  // the same letter again
    TodasVendas,
    StVendas,
    Loja,
    BoTodosCaixa,
    StCaixa,
    BoTodosTipoCons,
    StTipoCons,  // the last of GetVerifVenda's
    BoTodosCliente,
    BoIntervaloCli,
    StCliDe,
    StCliAte,
    StCliente,
    StCentroCusto,
    BoTodosCentroCusto,
    StProdutos,
    BoTodosProdutos,
  };
  static constexpr std::array kinds{T, D, D, T, T, T, T, T, B, T, B, T, B, B, T, T, T, T, B, T, B};
  static_assert(BoTodosProdutos == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// The register-days to check: GetPrincipal's first twelve arguments, under
// the same names.
struct GetVerifVenda : MethodKinds {
  static constexpr std::string_view name = "GetVerifVenda";
  using Arg = GetPrincipal::Arg;
  using enum GetPrincipal::Arg;
  static constexpr std::array kinds{T, D, D, T, T, T, T, T, B, T, B, T};
  static_assert(StTipoCons == kinds.size());
};

constexpr bool startsWithVerification() {
  for (std::size_t i = 0; i < GetVerifVenda::kinds.size(); ++i)
    if (GetPrincipal::kinds[i] != GetVerifVenda::kinds[i]) return false;
  return true;
}
static_assert(startsWithVerification(), "GetVerifVenda's kinds are GetPrincipal's first");

struct getPeriodoCTBOK : MethodKinds {
  static constexpr std::string_view name = "getPeriodoCTBOK";
  enum Arg : int { Filial = 1, DtInicial, DtFinal };
  static constexpr std::array kinds{T, D, D};
  static_assert(DtFinal == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// Sales from InicioConsolidacao up to the day before Inicio; IdUtilAlmox and
// IdUtilLcEstq ("S"/"N") say whether CdAlmoxarife and CdLocalEstoque narrow them.
struct Verifica_Venda_Anterior : MethodKinds {
  static constexpr std::string_view name = "Verifica_Venda_Anterior";
  enum Arg : int {
    Filial = 1,
    Inicio,
    Fim,
    InicioConsolidacao,
    IdUtilAlmox,
    IdUtilLcEstq,
    CdAlmoxarife,
    CdLocalEstoque,
  };
  static constexpr std::array kinds{T, D, D, D, T, T, T, T};
  static_assert(CdLocalEstoque == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

struct GetSoma : MethodKinds {
  static constexpr std::string_view name = "GetSoma";
  enum Arg : int { Filial = 1, Loja, Caixa, Dia, TodasVendas, StVendas, BoTodosTipoCons, StTipoCons, TodasNF };
  static constexpr std::array kinds{T, T, T, D, T, T, B, T, T};
  static_assert(TodasNF == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

struct GetReducaoZ : MethodKinds {
  static constexpr std::string_view name = "GetReducaoZ";
  enum Arg : int { Filial = 1, Caixa, Dia };
  static constexpr std::array kinds{T, T, D};
  static_assert(Dia == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// ---- the run --------------------------------------------------------------------------

struct SemGeraNF : MethodKinds {
  static constexpr std::string_view name = "SemGeraNF";
  enum Arg : int {
    FiliProc = 1,  // the branch the run is made from
    Filial,
    Loja,
    TodasVendas,
    StVendas,
    DtInicial,
    DtFinal,
    StCaixa,
    BoTodosCaixa,
    StCliente,
    BoTodosCliente,
    BoIntervaloCli,
    StCliDe,
    StCliAte,
    StTipoCons,
    BoTodosTipoCons,
    TipoReti,
    Setor,
    Operador,
    StCentroCusto,
    BoTodosCentroCusto,
    StProdutos,
    BoTodosProdutos,
    VerificaEstoque,
  };
  static constexpr std::array kinds{T, T, T, T, T, D, D, T, B, T, B, B, T, T, T, B, T, T, T, T, B, T, B, B};
  static_assert(VerificaEstoque == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// ---- undoing a run --------------------------------------------------------------------

// Reverses one stock posting of a consolidation run: FilialEst and
// NrLancEstq are the posting's key (FilialEst is the stock's branch, the
// central one when the branch's stock is kept there), Filial the branch whose
// sales it posted. Motivo is required.
struct EstornaGeraNF : MethodKinds {
  static constexpr std::string_view name = "EstornaGeraNF";
  enum Arg : int { FiliProc = 1, Filial, FilialEst, NrLancEstq, Motivo, Operador };
  static constexpr std::array kinds{T, T, T, T, T, T};
  static constexpr int kMotivoMaximo = 200;  // characters of the reason kept
  static_assert(Operador == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// The stock postings the consolidation made for a branch's sales over a
// period (their days), reversed ones too.
struct GetConsolidacoes : MethodKinds {
  static constexpr std::string_view name = "GetConsolidacoes";
  enum Arg : int { Filial = 1, DtInicial, DtFinal };
  static constexpr std::array kinds{T, D, D};
  static_assert(DtFinal == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// ---- the pickers' lists ---------------------------------------------------------------

struct GetVendas : MethodKinds {
  static constexpr std::string_view name = "GetVendas";
  enum Arg : int { Filial = 1, Loja, Inicio, Fim, TodosCaixa, StCaixa };
  static constexpr std::array kinds{T, T, D, D, B, T};
  static_assert(StCaixa == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// The marks are "T" for all; the lists apply otherwise.
struct GetProdutos : MethodKinds {
  static constexpr std::string_view name = "GetProdutos";
  enum Arg : int { Filial = 1, Loja, Inicio, Fim, CaixaLista, CaixaMarca, VendasLista, VendasMarca };
  static constexpr std::array kinds{T, T, D, D, T, T, T, T};
  static_assert(VendasMarca == kinds.size());
  friend constexpr ArgKind kindAt(Arg position) { return kinds[argIndex(position)]; }
};

// ---- argument lists by name -----------------------------------------------------------

// A method's argument list filled by position name, in any order; handed
// over as a vector only when every position has its value. A position
// outside the method's list, or one left without a value, is a fault of the
// caller's code, not of its data.
template <class Method, class Value>
class ArgumentList {
 public:
  using Arg = typename Method::Arg;
  static constexpr std::size_t size = Method::kinds.size();

  ArgumentList() = default;
  ArgumentList(std::initializer_list<std::pair<Arg, Value>> values) { set(values); }

  ArgumentList& set(Arg position, Value value) {
    if (argIndex(position) >= size) fault("argumento " + std::to_string(position) + " não existe");
    slots_[argIndex(position)] = std::move(value);
    return *this;
  }
  ArgumentList& set(std::initializer_list<std::pair<Arg, Value>> values) {
    for (const auto& [position, value] : values) set(position, value);
    return *this;
  }
  // The first position without a value, if any.
  std::optional<int> missing() const {
    for (std::size_t i = 0; i < size; ++i)
      if (!slots_[i]) return int(i + 1);
    return std::nullopt;
  }
  std::vector<Value> values() const {
    if (auto position = missing()) fault("argumento " + std::to_string(*position) + " sem valor");
    std::vector<Value> out;
    out.reserve(size);
    for (const auto& slot : slots_) out.push_back(*slot);
    return out;
  }

 private:
  [[noreturn]] static void fault(const std::string& what) {
    throw std::logic_error(std::string(Method::name) + ": " + what);
  }
  std::array<std::optional<Value>, size> slots_;
};

}  // namespace qfx::contract
