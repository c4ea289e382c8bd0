// The messages of the engine's components (sessions, databases), raised as cl::EDatabaseError
// through cl::DatabaseError and cl::DatabaseErrorFmt ("%s" is the session or database name).
//
// The English texts are the engine's own; the French ones belong to the component model's
// automatic session naming.  Texts are Windows-1252.
#pragma once

namespace tessera {

// The version both components report; writing it is ignored.
inline constexpr const char* kEngineVersion = "1.19";

inline constexpr const char* SInvalidSessionName = "Session name %s is not valid.";
inline constexpr const char* SSessionNameMissing = "Session name is missing.";
inline constexpr const char* SSessionActive = "Cannot perform this operation on an active session.";
inline constexpr const char* SDuplicateSessionName = "Session name %s already exists.";
inline constexpr const char* SAutoSessionExclusive =
    "Ne peut activer la propri\xE9t\xE9 AutoSessionName avec plus d'une session sur une fiche ou "
    "un module de donn\xE9"
    "es";
inline constexpr const char* SAutoSessionActive =
    "Ne peut modifier SessionName alors que AutoSessionName est activ\xE9";
inline constexpr const char* SAutoSessionExists =
    "Ne peut ajouter une session \xE0 la fiche ou au module donn\xE9"
    "es alors que la session '%s' a AutoSessionName activ\xE9";

inline constexpr const char* SDatabaseNameMissing = "Database name is missing.";
inline constexpr const char* SDuplicateDatabaseName = "Database name %s already exists.";
inline constexpr const char* SDatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr const char* SInvalidDatabaseName = "Database name %s is not valid.";

}  // namespace tessera
