<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>CAbstractPanelButton</name>
    <message>
        <source>CAbstractPanelButton { background-color: rgba(%1, %2, %3, %4);}</source>
        <translation>CAbstractPanelButton { background-color: rgba(%1, %2, %3, %4);}</translation>
    </message>
</context>
<context>
    <name>CSimpleRegisterDelegat</name>
    <message>
        <source>Register map bias: </source>
        <translation>Смещение раегистра: </translation>
    </message>
    <message>
        <source>ExtraValue: </source>
        <translation>ExtraValue: </translation>
    </message>
    <message>
        <source>Multiplier: </source>
        <translation>Multiplier: </translation>
    </message>
    <message>
        <source>Units: </source>
        <translation>Units: </translation>
    </message>
    <message>
        <source>UNSUPPORT</source>
        <translation>БЕЗ ПОДДЕРЖКИ</translation>
    </message>
    <message>
        <source>Value = RAW *
Multiplier + ExtraValue</source>
        <translation>Value = RAW *
Multiplier + ExtraValue</translation>
    </message>
    <message>
        <source>Parameter is
TEXT value!</source>
        <translation>Параметром является
ТЕКСТОВОЕ значение!</translation>
    </message>
</context>
<context>
    <name>CAbstractDeviceForm</name>
    <message>
        <source>Add new device interface</source>
        <translation>Интерфейс добавления нового устройства</translation>
    </message>
    <message>
        <source>Connection parameters</source>
        <translation>Параметры подключения</translation>
    </message>
    <message>
        <source>TCP port for device:</source>
        <translation>TCP-порт устройства:</translation>
    </message>
    <message>
        <source>Invalid TCP port (is used or unsupported)</source>
        <translation>Недопустимый TCP-порт (занят или не поддерживается)</translation>
    </message>
    <message>
        <source>Start address for registers:</source>
        <translation>Начальный адрес регистров:</translation>
    </message>
    <message>
        <source>Empty start address</source>
        <translation>Не указан начальный адрес</translation>
    </message>
    <message>
        <source>Accessible devices</source>
        <translation>Доступные устройства</translation>
    </message>
    <message>
        <source>Device&apos;s registers</source>
        <translation>Регистры устройства</translation>
    </message>
    <message>
        <source>Registered device type</source>
        <translation>Зарегистрированные типы устройств</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>CEditDeviceForm</name>
    <message>
        <source>Edit device&apos;s parameters interface</source>
        <translation>Интерфейс редактирования параметров устройства</translation>
    </message>
    <message>
        <source>Edit device status</source>
        <translation>Статус изменения устройства</translation>
    </message>
    <message>
        <source>Device is not changed! See LOG-file for more details</source>
        <translation>Устройство не изменено! Подробности в LOG-файле</translation>
    </message>
</context>
<context>
    <name>GlobalSettingsWindow</name>
    <message>
        <source>Включить логирование</source>
        <translation>Включить логирование</translation>
    </message>
    <message>
        <source>Количество файлов для логирования:</source>
        <translation>Количество файлов для логирования:</translation>
    </message>
    <message>
        <source>Расширенное логирование</source>
        <translation>Расширенное логирование</translation>
    </message>
    <message>
        <source>Максимальный размер лога(МБ):</source>
        <translation>Максимальный размер лога(МБ):</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Сохранить</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Server authorization</source>
        <translation>Авторизация</translation>
    </message>
    <message>
        <source>Login:</source>
        <translation>Логин:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Пароль:</translation>
    </message>
    <message>
        <source>Connection state...</source>
        <translation>Состояние подключения...</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Подлкючиться</translation>
    </message>
    <message>
        <source>Add new device from server</source>
        <translation>Добавление нового устройства с сервера</translation>
    </message>
    <message>
        <source>Edit device parametrs</source>
        <translation>Редактирование параметров устройства</translation>
    </message>
    <message>
        <source>Delete device</source>
        <translation>Удалить устройство</translation>
    </message>
    <message>
        <source>Device [UNKNOWN]</source>
        <translation>Устройство [НЕИЗВЕСТНО]</translation>
    </message>
    <message>
        <source>Device:%1 [%2]</source>
        <translation>Устройство:%1 [%2]</translation>
    </message>
    <message>
        <source>ModBus-TCP parameters</source>
        <translation>Параметры ModBus-TCP</translation>
    </message>
    <message>
        <source>Device ID:</source>
        <translation>ID устройства:</translation>
    </message>
    <message>
        <source>ANY VALID VALUE</source>
        <translation>ЛЮБОЕ ДОПУСТИМОЕ ЗНАЧЕНИЕ</translation>
    </message>
    <message>
        <source>TCP port:</source>
        <translation>TCP-порт:</translation>
    </message>
    <message>
        <source>Begin register:</source>
        <translation>Начальный регистр:</translation>
    </message>
    <message>
        <source>Add new ModBUS device interface</source>
        <translation>Добавить новый ModBus интерфейс устройства</translation>
    </message>
    <message>
        <source>Add new TCP device interface</source>
        <translation>Добавить новый TCP интерфейс устройства</translation>
    </message>
    <message>
        <source>%1</source>
        <translation>%1</translation>
    </message>
    <message>
        <source>://</source>
        <translation>://</translation>
    </message>
    <message>
        <source>:</source>
        <translation>:</translation>
    </message>
</context>
</TS>
