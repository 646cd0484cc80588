#pragma once

// What a program file of the update must be: an executable for the machine
// this program runs on, whole.
namespace ElfImage {

// Whether the open file fd is an ELF executable or shared object of this
// program's class, byte order and machine, whose program and section header
// tables, and every segment the program headers place in the file, lie within
// it. A file cut anywhere fails: the section table stands at the end.
bool isWholeExecutable(int fd);

} // namespace ElfImage
