[playlist]
File1=/m/a.mp3
Title1=A
File2=b.mp3
NumberOfEntries=2
