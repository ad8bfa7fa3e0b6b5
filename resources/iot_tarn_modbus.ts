<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>MainWindow</name>
    <message>
        <source>LoRa Brindle</source>
        <translation>LoRa Brindle</translation>
    </message>
</context>
</TS>
