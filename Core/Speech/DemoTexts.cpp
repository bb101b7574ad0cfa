#include "DemoTexts.h"

#include <QHash>

QString DemoTexts::forLanguage(const QString &language)
{
    static const QHash<QString, QString> texts = {
        {QStringLiteral("en"), QStringLiteral("Hello! This is what my voice sounds like.")},
        {QStringLiteral("cmn"), QStringLiteral("你好！这就是我的声音。")},
        {QStringLiteral("zh"), QStringLiteral("你好！这就是我的声音。")},
        {QStringLiteral("yue"), QStringLiteral("你好！呢個就係我嘅聲音。")},
        {QStringLiteral("hak"), QStringLiteral("你好！这就是我的声音。")},
        {QStringLiteral("hi"), QStringLiteral("नमस्ते! मेरी आवाज़ ऐसी सुनाई देती है।")},
        {QStringLiteral("es"), QStringLiteral("¡Hola! Así suena mi voz.")},
        {QStringLiteral("fr"), QStringLiteral("Bonjour ! Voici à quoi ressemble ma voix.")},
        {QStringLiteral("ar"), QStringLiteral("مرحبا! هكذا يبدو صوتي.")},
        {QStringLiteral("bn"), QStringLiteral("নমস্কার! আমার কণ্ঠস্বর এরকম শোনায়।")},
        {QStringLiteral("pt"), QStringLiteral("Olá! É assim que a minha voz soa.")},
        {QStringLiteral("ru"), QStringLiteral("Здравствуйте! Вот так звучит мой голос.")},
        {QStringLiteral("ur"), QStringLiteral("سلام! میری آواز ایسی سنائی دیتی ہے۔")},
        {QStringLiteral("id"), QStringLiteral("Halo! Beginilah suara saya.")},
        {QStringLiteral("ms"), QStringLiteral("Helo! Beginilah bunyi suara saya.")},
        {QStringLiteral("de"), QStringLiteral("Hallo! So klingt meine Stimme.")},
        {QStringLiteral("ja"), QStringLiteral("こんにちは！これが私の声です。")},
        {QStringLiteral("mr"), QStringLiteral("नमस्कार! माझा आवाज असा ऐकू येतो.")},
        {QStringLiteral("te"), QStringLiteral("నమస్కారం! నా గొంతు ఇలా వినిపిస్తుంది.")},
        {QStringLiteral("tr"), QStringLiteral("Merhaba! Sesim böyle duyuluyor.")},
        {QStringLiteral("ta"), QStringLiteral("வணக்கம்! என் குரல் இப்படித்தான் ஒலிக்கிறது.")},
        {QStringLiteral("vi"), QStringLiteral("Xin chào! Đây là giọng nói của tôi.")},
        {QStringLiteral("ko"), QStringLiteral("안녕하세요! 제 목소리는 이렇게 들립니다.")},
        {QStringLiteral("it"), QStringLiteral("Ciao! Ecco come suona la mia voce.")},
        {QStringLiteral("fa"), QStringLiteral("سلام! صدای من این‌گونه است.")},
        {QStringLiteral("sw"), QStringLiteral("Habari! Hivi ndivyo sauti yangu inavyosikika.")},
        {QStringLiteral("pa"), QStringLiteral("ਸਤ ਸ੍ਰੀ ਅਕਾਲ! ਮੇਰੀ ਆਵਾਜ਼ ਇਸ ਤਰ੍ਹਾਂ ਸੁਣਾਈ ਦਿੰਦੀ ਹੈ।")},
        {QStringLiteral("pl"), QStringLiteral("Dzień dobry! Tak brzmi mój głos.")},
        {QStringLiteral("uk"), QStringLiteral("Вітаю! Ось так звучить мій голос.")},
        {QStringLiteral("nl"), QStringLiteral("Hallo! Zo klinkt mijn stem.")},
        {QStringLiteral("el"), QStringLiteral("Γεια σας! Έτσι ακούγεται η φωνή μου.")},
        {QStringLiteral("cs"), QStringLiteral("Dobrý den! Takhle zní můj hlas.")},
        {QStringLiteral("sv"), QStringLiteral("Hej! Så här låter min röst.")},
        {QStringLiteral("da"), QStringLiteral("Hej! Sådan lyder min stemme.")},
        {QStringLiteral("nb"), QStringLiteral("Hei! Slik høres stemmen min ut.")},
        {QStringLiteral("fi"), QStringLiteral("Hei! Tältä ääneni kuulostaa.")},
        {QStringLiteral("he"), QStringLiteral("שלום! כך נשמע הקול שלי.")},
        {QStringLiteral("th"), QStringLiteral("สวัสดี! นี่คือเสียงของฉัน")},
        {QStringLiteral("ro"), QStringLiteral("Bună ziua! Așa sună vocea mea.")},
        {QStringLiteral("hu"), QStringLiteral("Jó napot! Így szól a hangom.")},
        {QStringLiteral("sr"), QStringLiteral("Здраво! Овако звучи мој глас.")},
        {QStringLiteral("hr"), QStringLiteral("Bok! Ovako zvuči moj glas.")},
        {QStringLiteral("bg"), QStringLiteral("Здравейте! Ето как звучи гласът ми.")},
        {QStringLiteral("ca"), QStringLiteral("Hola! Així sona la meva veu.")},
    };
    return texts.value(language, texts.value(QStringLiteral("en")));
}
