// The records of the XAG49 programming firmware: Intel HEX text records
// (":" LL AAAA TT data CC) with the device's own command types 83, 84, 85.
#pragma once

#include <cstddef>
#include <cstdint>

// Erase-block codes, searched by the menu from the last to the first.
inline constexpr std::int32_t bloco[5] = {0x00, 0x20, 0x40, 0x80, 0xC0};
inline constexpr int blocos = 5;

// Room for the longest composed record, its line end and the NUL.
inline constexpr std::size_t tamanho_registro = 23;

// Fixed command records, sent as they stand (line ends only where shown).
inline constexpr const char* registro_zera_status[4] = {":010000830478", ":030000830601C0B3",
                                                        ":030000830601F083", ":030000830601F87B"};
inline constexpr const char* registro_le_status = ":02000085070171\n";
inline constexpr const char* registro_le_boot = ":02000085070270";

// The value of one hex digit ('0'-'9', 'A'-'F', 'a'-'f'), or -1 for any
// other character (the string's NUL too).
int digito_hex(int c);

// ":0200008301" BB CC "\n", erasing the block with code BB.
void registro_apaga(char* buf, std::int32_t codigo);

// ":05000084" SSSS EEEE "00" CC "\n", asking for the bytes from S to E.
void registro_mostra(char* buf, std::int32_t inicio, std::int32_t fim);
