// The dataset layer's messages, in one table, and the helpers that raise them.
//
// Texts are French, in Windows-1252.  A "%s" in a
// text is replaced by DBFormat with the given arguments in order; no other directive occurs.
// Messages that belong to one dataset implementation (the engine's, the in-memory one's) stay
// with that implementation.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace cl {

// Quoted by the dataset implementations.
inline constexpr const char* SNotEditing =
    "L'ensemble de donn\xE9"
    "es n'est pas en mode Edition ou Insertion";
inline constexpr const char* SFieldReadOnly = "Le champ '%s' ne peut \xEAtre modifi\xE9";
inline constexpr const char* SNotIndexField =
    "Le champ '%s' n'est pas index\xE9 et ne peut \xEAtre modifi\xE9";
inline constexpr const char* SNoFieldIndexes = "Aucun index actif actuellement";
inline constexpr const char* SFieldIndexError = "Index de champ hors limites";
inline constexpr const char* SIndexFieldMissing =
    "Ne peut acc\xE9"
    "der au champ index '%s'";
inline constexpr const char* SDataSetOpen =
    "Ne peut effectuer cette op\xE9ration sur un ensemble de donn\xE9"
    "es ouvert";
inline constexpr const char* SCircularDataLink =
    "Liaisons de donn\xE9"
    "es circulaires non autoris\xE9"
    "es";

// The layer's own.
inline constexpr const char* SDataSetClosed =
    "Ne peut effectuer cette op\xE9ration sur un ensemble de donn\xE9"
    "es ferm\xE9";
inline constexpr const char* SDataSetReadOnly =
    "Ne peut modifier un ensemble de donn\xE9"
    "es en lecture seule";
inline constexpr const char* SDataSetEmpty =
    "Op\xE9ration non applicable \xE0 un ensemble de donn\xE9"
    "es vide";
inline constexpr const char* SFieldNotFound = "Champ '%s' non trouv\xE9";
inline constexpr const char* SFieldRequired = "Le champ '%s' doit avoir une valeur";
inline constexpr const char* SRecordNotFound = "Enregistrement non trouv\xE9";
inline constexpr const char* SFieldTypeMismatch =
    "Type incorrect pour le champ '%s', attendu : %s, r\xE9"
    "el : %s";
inline constexpr const char* SFieldSizeMismatch =
    "Taille incorrecte pour le champ '%s', attendue : %s, r\xE9"
    "elle : %s";
inline constexpr const char* SInvalidIntegerValue =
    "'%s' n'est pas une valeur enti\xE8re correcte pour le champ '%s'";
inline constexpr const char* SInvalidFloatValue =
    "'%s' n'est pas une valeur en virgule flottante correcte pour le champ '%s'";
inline constexpr const char* SInvalidBoolValue =
    "'%s' n'est pas une valeur bool\xE9"
    "enne correcte pour le champ '%s'";
inline constexpr const char* SFieldRangeError =
    "%s n'est pas une valeur correcte pour le champ '%s'. Les valeurs autoris\xE9"
    "es sont "
    "comprises entre %s et %s";
inline constexpr const char* SFieldAccessError =
    "Le champ '%s' ne peut pas \xEAtre lu ou \xE9"
    "crit comme %s";
inline constexpr const char* SDataSetMissing =
    "Pas d'ensemble de donn\xE9"
    "es pour le champ '%s'";
inline constexpr const char* SUnknownFieldType = "Le champ '%s' est d'un type inconnu : %s";
inline constexpr const char* SLookupInfoError =
    "Les informations de r\xE9"
    "f\xE9rence du champ '%s' sont incompl\xE8tes";

// The texts a Boolean field shows and reads.
inline constexpr const char* STextTrue = "Vrai";
inline constexpr const char* STextFalse = "Faux";

// `format` with each "%s" replaced by the next argument (a missing argument gives "").
std::string DBFormat(std::string_view format, std::initializer_list<std::string_view> args);

// Raise EDatabaseError with `message`, or with DBFormat(format, args).
[[noreturn]] void DatabaseError(std::string message);
[[noreturn]] void DatabaseErrorFmt(std::string_view format,
                                   std::initializer_list<std::string_view> args);

}  // namespace cl
