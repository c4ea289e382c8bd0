// The layer's messages: their exact French wording (checked in UTF-8, so that an escape that
// swallowed a letter shows) and the placeholder substitution.
#include "classlib/db/DBConsts.h"

#include <gtest/gtest.h>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/Cp1252.h"

namespace cl {
namespace {

TEST(DBConsts, MessagesReadAsWritten) {
  const std::pair<const char*, const char*> messages[] = {
      {SNotEditing, "L'ensemble de données n'est pas en mode Edition ou Insertion"},
      {SFieldReadOnly, "Le champ '%s' ne peut être modifié"},
      {SNotIndexField, "Le champ '%s' n'est pas indexé et ne peut être modifié"},
      {SNoFieldIndexes, "Aucun index actif actuellement"},
      {SFieldIndexError, "Index de champ hors limites"},
      {SIndexFieldMissing, "Ne peut accéder au champ index '%s'"},
      {SDataSetOpen, "Ne peut effectuer cette opération sur un ensemble de données ouvert"},
      {SCircularDataLink, "Liaisons de données circulaires non autorisées"},
      {SDataSetClosed, "Ne peut effectuer cette opération sur un ensemble de données fermé"},
      {SDataSetReadOnly, "Ne peut modifier un ensemble de données en lecture seule"},
      {SDataSetEmpty, "Opération non applicable à un ensemble de données vide"},
      {SFieldNotFound, "Champ '%s' non trouvé"},
      {SFieldRequired, "Le champ '%s' doit avoir une valeur"},
      {SRecordNotFound, "Enregistrement non trouvé"},
      {SFieldTypeMismatch, "Type incorrect pour le champ '%s', attendu : %s, réel : %s"},
      {SFieldSizeMismatch, "Taille incorrecte pour le champ '%s', attendue : %s, réelle : %s"},
      {SInvalidIntegerValue, "'%s' n'est pas une valeur entière correcte pour le champ '%s'"},
      {SInvalidFloatValue,
       "'%s' n'est pas une valeur en virgule flottante correcte pour le champ '%s'"},
      {SInvalidBoolValue, "'%s' n'est pas une valeur booléenne correcte pour le champ '%s'"},
      {SFieldRangeError,
       "%s n'est pas une valeur correcte pour le champ '%s'. Les valeurs autorisées sont "
       "comprises entre %s et %s"},
      {SFieldAccessError, "Le champ '%s' ne peut pas être lu ou écrit comme %s"},
      {SDataSetMissing, "Pas d'ensemble de données pour le champ '%s'"},
      {SLookupInfoError, "Les informations de référence du champ '%s' sont incomplètes"},
  };
  for (const auto& [text, utf8] : messages) EXPECT_EQ(Cp1252ToUtf8(text), utf8);
}

TEST(DBConsts, PlaceholdersTakeTheArgumentsInOrder) {
  EXPECT_EQ(DBFormat(SFieldTypeMismatch, {"Nom", "ftString", "ftInteger"}),
            "Type incorrect pour le champ 'Nom', attendu : ftString, r\xE9"
            "el : ftInteger");
  EXPECT_EQ(DBFormat("%s et %s", {"a"}), "a et ");
  EXPECT_EQ(DBFormat("100 %", {}), "100 %");
  try {
    DatabaseErrorFmt(SFieldNotFound, {"Inconnu"});
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Champ 'Inconnu' non trouv\xE9");
  }
}

TEST(DBTypes, EnumerationNamesFollowTheirOrder) {
  EXPECT_STREQ(FieldTypeName(ftBytes), "ftBytes");
  EXPECT_STREQ(FieldTypeName(ftTypedBinary), "ftTypedBinary");
  EXPECT_STREQ(FieldTypeName(static_cast<TFieldType>(200)), "ftUnknown");
  EXPECT_STREQ(FieldKindName(fkLookup), "fkLookup");
  EXPECT_EQ(static_cast<int>(bfInserted), 3);
  EXPECT_EQ(static_cast<int>(ftCursor), 20);
  EXPECT_TRUE(IsEditMode(dsSetKey));
  EXPECT_FALSE(IsEditMode(dsCalcFields));
}

}  // namespace
}  // namespace cl
