// Copyright 2026 Oskel updater developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Protocol 1 (update mode 1): output report 3 of 64 bytes, sent as SET_REPORT on endpoint 0, in
// its plain form; on the wire every byte after the report ID is substituted.
#[repr(u8)]
enum FuOskelControllerP1Cmd {
    Identify = 0xB4,
    Erase = 0x8A,
    Program = 0x79,
    Finish = 0xA4,
}

#[derive(New, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP1Report {
    report_id: u8 = 0x03,
    header: u8 = 0xB5,
    data_size: u8 = 0x38, // the size of the data field, for every command
    command: FuOskelControllerP1Cmd,
    address: u16be,
    size: u8, // program: the bytes of data; erase: 0x01, a whole block
    checksum: u8, // the low byte of the sum of the other 63 bytes
    data: [u8; 56],
}

// the boot loader's answer to the identify command, read as GET_REPORT on endpoint 0
#[derive(New, Getters, ToString, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP1IdentifyReply {
    report_id: u8 = 0x02,
    product_id_low: u8,
    vendor_id_high: u8,
    bootloader_version: u16be,
    flash_pages: u8,
    region_page: u8,
    reserved: [u8; 39],
}

// Protocol 2 (update mode 2): output report 3 of 64 bytes on the interrupt OUT endpoint; the
// device sends nothing back.
#[repr(u8)]
enum FuOskelControllerP2Cmd {
    Start = 0x47,
    Data = 0x87,
}

#[derive(New, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP2Start {
    report_id: u8 == 0x03,
    prefix: u16be == 0x2563,
    command: FuOskelControllerP2Cmd == Start,
    reserved: [u8; 60],
}

#[derive(New, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP2Data {
    report_id: u8 == 0x03,
    prefix: u16be == 0x2563,
    command: FuOskelControllerP2Cmd == Data,
    checksum: u16be, // the byte sum of the data
    offset: u16be, // where the data lies in the image
    data: [u8; 56],
}

// Protocol 3 (update mode 3): 65-byte reports with report ID 0, so that the interrupt OUT
// endpoint carries their last 64 bytes; each is answered on the interrupt IN endpoint.
#[repr(u8)]
enum FuOskelControllerP3Cmd {
    Begin = 0xC0,
    Block = 0xC1,
    End = 0xC2,
}

#[derive(New, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP3Begin {
    report_id: u8 == 0x00,
    command_class: u8 == 0xBA,
    command: FuOskelControllerP3Cmd == Begin,
    block_count: u16le,
    image_length: u24le,
    reserved: [u8; 57],
}

#[derive(New, Getters, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP3Block {
    report_id: u8 == 0x00,
    command_class: u8 == 0xBA,
    command: FuOskelControllerP3Cmd == Block,
    number: u16le, // from 1
    length: u16le, // the image bytes in data; 0x00 after them
    data: [u8; 58],
}

#[derive(New, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP3End {
    report_id: u8 == 0x00,
    command_class: u8 == 0xBA,
    command: FuOskelControllerP3Cmd == End,
    count: u16le, // the block count + 1
    total: u24le, // the byte sum of the data fields sent
    image_length: u24le,
    reserved: [u8; 54],
}

#[derive(New, Getters, ToString, Default)]
#[repr(C, packed)]
struct FuStructOskelControllerP3Reply {
    report_id: u8 == 0x00,
    command_class: u8,
    command: u8,
    status: u8,
    reserved: [u8; 61],
}
