// The table cipher, the password check of an encrypted table, and temporary table names.
//
// THE CIPHER IS OBFUSCATION, NOT SECURITY.  It XORs the bytes with a fixed keystream derived from
// two constant key bytes compiled into every copy of the program: it only keeps table contents
// from being read in a plain file viewer.  Anyone with the program, or with one known plain
// record, can read every encrypted table, and the stored password can be recovered from the
// header.  Never present it as protection of the data.
//
// Cipher: a running pair (A, B) starts at the key bytes; for each byte in order,
// byte ^= A ^ B, then A += 1 and B -= 1 (mod 256).  Every call starts again from the key bytes,
// and applying it twice restores the bytes.  Of an encrypted table it covers each record, the
// field-definition block, the .IDX header and pages, the .BLB header and each blob block's header
// and payload (separately, the key restarting for each piece) with the data key pair; and the
// characters (not the length byte) of the stored password and description with the password key
// pair.  The four key bytes are part of the file format and never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tessera {

class TFileSession;

inline constexpr uint8_t kDataKeyA = 0xA7;
inline constexpr uint8_t kDataKeyB = 0x3C;
inline constexpr uint8_t kPasswordKeyA = 0x6D;
inline constexpr uint8_t kPasswordKeyB = 0xD2;

// The length is a size_t: a field-definition block of 86 or more fields passes 65,535 bytes.
void EncipherBuffer(uint8_t* buffer, size_t length, uint8_t key_a, uint8_t key_b);
void DecipherBuffer(uint8_t* buffer, size_t length, uint8_t key_a, uint8_t key_b);

// A header ShortString (length byte + `capacity` characters) whose characters are enciphered
// with the password key pair: the table password (+87, capacity 15) and the description (+35,
// capacity 50).  Put writes the text cut to capacity and zero fill, enciphering the whole
// character area; Get deciphers it, clamping a damaged length byte to capacity.
void PutEncipheredShortString(uint8_t* dst, size_t capacity, std::string_view text);
std::string GetEncipheredShortString(const uint8_t* src, size_t capacity);

// Asks for a password: called while the session lacks the table's password; true when one was
// supplied (the caller then looks again), false to give up.
using TPasswordEvent = std::function<bool()>;

// The password check of opening an encrypted table.  `stored_password` is the header's
// enciphered password (length byte + 15 characters).  While the session's password list lacks
// the deciphered password, calls `password_event`; raises 10498 with `table_name` when there is
// none or it gives up.  The loop goes on as long as the event keeps supplying passwords: its user
// ends it.
void CheckTablePassword(TFileSession& session, const uint8_t* stored_password,
                        std::string_view table_name, const TPasswordEvent& password_event);

// A table file name that no existing file uses: directory + the first 5 digits of the thread
// id's absolute value + n + ".DAT" for the first n = 0, 1, ... that is free.  The directory is
// the session's private directory; when it is empty and the table is not in memory, the current
// directory.  An in-memory name is free when the session's in-memory file list lacks it (looked
// up inside the file critical section); a disk name when no such file exists.  Two processes
// may still pick the same disk name; the exclusive creation of the file refuses the second.
// Raises 11010 when the name would pass 255 bytes.
std::string MakeTempTableName(TFileSession& session, bool in_memory);
// The same for a given thread id (tests).
std::string MakeTempTableName(TFileSession& session, bool in_memory, int64_t thread_id);
// The same in `directory` (empty: no directory) instead of the session's.
std::string MakeTempTableNameIn(TFileSession& session, bool in_memory, std::string_view directory);
std::string MakeTempTableNameIn(TFileSession& session, bool in_memory, std::string_view directory,
                                int64_t thread_id);

}  // namespace tessera
